#ifndef HTTP_WALK_H
#define HTTP_WALK_H

#include <cstddef>
#include <cstdint>

// A client that acts on one connection to the service's HTTP sessions the way clients do over
// time: requests good and bad, pipelined or one by one, bodies held back or cut, answers read
// late or at once. Each input byte pair is one action and its argument, so that a mutation
// changes one action and not the meaning of all that follows.
namespace HttpWalk {

enum Action : uint8_t {
    Post,            // argument: body length (low 5 bits)
    PostChunked,     // ... in one chunk, or two (0x80); a valid extension on the first (0x40)
    PostEmpty,       // with Content-Length: 0 (0x01) or no framing field at all
    ExpectWaiting,   // Expect: 100-continue, the body sent once the 100 has come; chunked (0x20)
    ExpectAtOnce,    // ... the body right behind the head
    Head,            // HEAD /search
    Misrouted,       // GET /search, POST /other, or a multipart POST (argument % 3)
    Malformed,       // argument % 6: a control byte in a quoted chunk extension (which one:
                     // argument / 6), two Content-Lengths, an obs-fold, bad Transfer-Encodings
    Split,           // the next write stops at argument/256 of what is queued; the rest waits
    Stall,           // 1 to 32 ms of silence
    Read,            // waits, bounded, for the answers to what was sent whole
    CloseWrite,      // the end of the client's stream
    OtherConnection, // a request on a connection of its own meanwhile, answered in time
    ActionCount
};

// Connects to 127.0.0.1:port from one of several loopback addresses; the fuzz target's.
int connectToServer(int port);

// Acts out the input on a connection to port and checks what comes back after every action.
void run(const uint8_t *data, size_t size, int port);

} // namespace HttpWalk

#endif
