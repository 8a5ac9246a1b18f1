#include "runtime/async_copy.h"

#include "board/board.h"
#include "runtime/read_end.h"

#include <errno.h>

namespace ASync {

namespace {

short constexpr failure_events = POLLERR | POLLHUP | POLLNVAL;

bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }

}  // namespace

Copy::Copy()
{
    srcEvent_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
    dstEvent_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
}

Copy::~Copy() { handler_.UnBind(); }

void Copy::set_events(EventsParams const& params)
{
    params_ = params;
    complete(Status::interrupted);
}

bool Copy::set_bufsize(unsigned int n)
{
    if (n == 0)
        return false;
    begin_ = end_ = nullptr;
    buf_.reset(new unsigned char[n]);
    bufsize_ = n;
    complete(Status::interrupted);
    return true;
}

int Copy::Start(Fd source, Fd destination)
{
    state_ = Status::copying;
    src_ = std::move(source);
    dst_ = std::move(destination);
    srcEvent_.Release();
    dstEvent_.Release();
    if (!buf_) {
        buf_.reset(new unsigned char[default_bufsize]);
        bufsize_ = default_bufsize;
    }
    begin_ = end_ = nullptr;
    written_ = 0;
    srcEnd_ = 0;
    srcEvent_.Schedule(src_, 0);
    dstEvent_.Schedule(dst_, 0);
    // Without both events polled the copy could wait for ever.
    if (!srcEvent_.IsActive() || !dstEvent_.IsActive()) {
        complete(Status::failed);
        return 0;
    }
    step_ = &Copy::SrcReady;
    progress();
    return 0;
}

void Copy::Stop()
{
    if (state_ == Status::copying)
        finishSource();
}

// A step that completes the copy returns false at once: the handler may have deleted it.
void Copy::progress()
{
    while ((this->*step_)()) {
    }
}

bool Copy::SrcReady()
{
    errno = 0;
    // Through the board, which may be told to fail a device's reads.
    ssize_t const n = board::board().read(src_.lowlevel_fd(), buf_.get(), bufsize_);
    int const error = errno;
    ReadEnd::Kind const k = ReadEnd::ofRead(n, error, srcEnd_);
    if (k == ReadEnd::data) {
        begin_ = buf_.get();
        end_ = begin_ + n;
        srcEvent_.SetEvents(0);
        dstEvent_.SetEvents(params_.dst);
        step_ = &Copy::DstReady;
        return true;
    }
    if (k == ReadEnd::again) {
        srcEvent_.SetEvents(params_.src);
        dstEvent_.SetEvents(0);
        return false;
    }
    // A read of 0, or a hang-up with nothing left to read, finishes the source. A read error
    // (or a reported one) is a failure even after some bytes were copied: the stream is cut
    // short.
    if (n == 0 || (wouldBlock(error) && !(srcEnd_ & (POLLERR | POLLNVAL))))
        return finishSource();
    complete(Status::failed);
    return false;
}

bool Copy::DstReady()
{
    ssize_t const w = write(dst_, begin_, unsigned(end_ - begin_));
    if (w > 0) {
        written_ += unsigned(w);
        begin_ += w;
        if (begin_ != end_)
            return true;
        if (state_ == Status::draining)
            return flush();
        return goReading();
    }
    if (w < 0 && wouldBlock(errno)) {
        srcEvent_.SetEvents(0);
        dstEvent_.SetEvents(params_.dst);
        return false;
    }
    complete(Status::failed);
    return false;
}

bool Copy::goReading()
{
    srcEvent_.SetEvents(params_.src);
    dstEvent_.SetEvents(0);
    step_ = &Copy::SrcReady;
    return true;
}

bool Copy::finishSource()
{
    srcEvent_.Release();
    src_.close();
    if (step_ == &Copy::DstReady) {
        state_ = Status::draining;
        return true;
    }
    return flush();
}

bool Copy::flush()
{
    if (params_.flush == 0) {
        complete(Status::done);
        return false;
    }
    dstEvent_.SetEvents(params_.flush);
    step_ = &Copy::NotReady;
    state_ = Status::flushing;
    return false;
}

void Copy::complete(Status::Type s)
{
    if (state_ < Status::copying || state_ > Status::flushing)
        return;
    state_ = s;
    srcEvent_.Release();
    dstEvent_.Release();
    src_.close();
    dst_.close();
    step_ = &Copy::NotReady;
    begin_ = end_ = nullptr;
    handler_.Invoke(s);
}

void Copy::OnSrcEvent(int, short revents)
{
    if (state_ != Status::copying)
        return;
    // After a hang-up or an error what is left is read; the read that would block then is
    // the end.
    srcEnd_ |= revents & failure_events;
    ReadEnd::Kind const ready = ReadEnd::ofPoll(revents, short(params_.src));
    if (ready == ReadEnd::end)
        srcEvent_.Release();
    if (ready != ReadEnd::again)
        progress();
}

void Copy::OnDstEvent(int, short revents)
{
    if (revents & failure_events) {
        complete(Status::failed);
    } else if (state_ == Status::copying || state_ == Status::draining) {
        if (revents & params_.dst)
            progress();
    } else if (state_ == Status::flushing) {
        if (revents & params_.flush)
            complete(Status::done);
    }
}

}  // namespace ASync
