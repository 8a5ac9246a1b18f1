#include "slots/auth_client.h"

#include "base/ext.h"
#include "runtime/read_end.h"
#include "slots/modem_factory.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

AuthClient::AuthClient(Fd socket, INet4::Addr const& peer, ModemFactory& owner)
    : socket_(std::move(socket)), peer_(peer), owner_(owner)
{
    event_.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

void AuthClient::Activate() { event_.Schedule(socket_, POLLIN); }

void AuthClient::OnDisconnect()
{
    partTimer_.reset();
    socket_.close();
    event_.Release();
}

void AuthClient::OnPartTimeout()
{
    Guard const guard(*this);
    std::cerr << ext::header(&owner_) << "auth client " << peer_ << " sent part of a record and nothing more for "
              << kPartMs << " ms, closed" << std::endl;
    OnDisconnect();
}

void AuthClient::CheckDisconnect()
{
    if (!socket_)
        owner_.OnAuthSocketDisconnect(this);
}

void AuthClient::OnSocketEvent(int, short revents)
{
    Guard const guard(*this);
    // A hang-up or an error with records waiting ends the connection after the reads.
    switch (ReadEnd::ofPoll(revents)) {
    case ReadEnd::again: return;
    case ReadEnd::end: OnDisconnect(); return;
    case ReadEnd::data: receive(revents); return;
    }
}

void AuthClient::receive(short revents)
{
    while (socket_) {
        ssize_t const n = ::recv(socket_.lowlevel_fd(), buffer_ + position_, end_ - position_, MSG_DONTWAIT);
        int const error = errno;
        if (n < 0 && error == EINTR)
            continue;
        ReadEnd::Kind const k = ReadEnd::ofRead(n, error, revents);
        if (k == ReadEnd::again) {
            if (position_ > 0 && !partTimer_.is_running())
                partTimer_.set(kPartMs, &AuthClient::OnPartTimeout, this);
            return;
        }
        if (k == ReadEnd::end)
            break;
        position_ += std::size_t(n);
        if (position_ < end_)
            continue;
        std::uint32_t size = 0;
        std::memcpy(&size, buffer_, sizeof size);
        // A record too short to hold its type and session is as bad as one too long.
        if (size < auth::kMinSize || size > auth::kMaxSize)
            break;
        if (position_ < size) {
            end_ = size;
            continue;
        }
        attr header;
        std::memcpy(&header, buffer_, sizeof header);
        session_ = header.session;
        partTimer_.reset();
        position_ = 0;
        end_ = sizeof(std::uint32_t);
        owner_.OnAuth(reinterpret_cast<attr const*>(buffer_));
    }
    OnDisconnect();
}

bool AuthClient::Send(attr const* record)
{
    Guard const guard(*this);
    if (!socket_)
        return false;
    auto const* bytes = reinterpret_cast<char const*>(record);
    std::size_t const size = record->size;
    for (std::size_t done = 0; done < size;) {
        ssize_t const n = ::send(socket_.lowlevel_fd(), bytes + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            OnDisconnect();
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}
