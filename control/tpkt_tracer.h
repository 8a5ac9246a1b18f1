#pragma once

#include "runtime/accept_pause.h"
#include "runtime/event.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>

// A small TCP server for tracing: accepts any number of peers on one port, hands the body
// of every TPKT frame they send to a sink, and sends frames to all peers, or only to the
// peer whose frame the sink is handling. Frame bodies are at most 512 bytes. A peer that
// closes, fails, sends a bad header or a longer body, or cannot take a whole frame at once
// is closed; the others go on.
class TPKTTracer {
public:
    // Takes the frame bodies.
    class Sink {
    public:
        virtual ~Sink() = default;
        // One frame body; the bytes are valid during the call only.
        virtual void OnFrame(char const* body, unsigned int length) = 0;
    };

    static constexpr unsigned int header_size = 4;
    // The longest body a peer may send.
    static constexpr unsigned int max_body = 512;
    // The longest body Send takes: the 16-bit length counts the header.
    static constexpr unsigned int max_send = 0xFFFF - header_size;

    // One accepted peer and the frame being read from it.
    struct Connection {
        struct State {
            enum Type { Body = 0, Header = 1 };
        };
        std::uint32_t state = State::Header;
        std::uint32_t expected = header_size;
        std::uint32_t received = 0;
        Event event;
        unsigned char buffer[max_body];
    };
    typedef std::list<std::unique_ptr<Connection>> Connections;
    typedef Connections::iterator Position;

    TPKTTracer();
    ~TPKTTracer();
    TPKTTracer(TPKTTracer const&) = delete;
    TPKTTracer& operator=(TPKTTracer const&) = delete;

    // Listens on 0.0.0.0 and the port (backlog 1); false when any step fails.
    bool Listen(unsigned short port);
    // Frames are dropped while no sink is set.
    void SetSink(Sink* sink) { sink_ = sink; }

    void OnEvent(int fd, short revents);
    void OnDataEvent(int fd, short revents);

    // Sends one frame: to the peer whose frame is being handed to the sink when called from
    // the sink, else to every peer. A body longer than max_send is refused with a line on
    // the error stream.
    void Send(void const* data, unsigned int length);

    Position FindConnection(int fd);
    void CloseConnection(Position position);
    std::size_t connection_count() const { return connections_.size(); }

private:
    // Reads what the peer has sent and hands over the complete frames; after a hang-up or
    // an error in revents, the connection closes once nothing more waits.
    void Receive(Connection& c, short revents);
    // The listening socket has ended: one line, and no more listening.
    void ListenerEnded(std::string const& why);
    // Takes a complete header; false when the connection is to be closed.
    bool TakeHeader(Connection& c);
    void SendTo(Position position, void const* header, void const* data, unsigned int length);

    Sink* sink_ = nullptr;
    Event listener_;
    AcceptPause acceptPause_{listener_};
    Connections connections_;
    Position current_;
};
