// The single-file TFTP server that hands one partition file to the box's boot loader.
//
// Reduced RFC 1350, server side, read only: whatever first datagram reaches UDP port 69 is
// taken as the read request (opcode, file name and mode are not looked at), the file is sent
// byte for byte in 512-byte blocks from port 69 itself, in DATA/ACK lockstep, and the server
// ends after the last block is acknowledged. One file and one client per start; one server
// at a time. Every step and failure goes to the log from "tftp_start", "tftp_thread",
// "tftp_stop" and "do_error_nak".
//
// The request's sender (address and port) is the client. Every later datagram's sender is
// checked: one from anybody else (a stray or late datagram, a second client) is answered
// with ERROR 5 "Unknown transfer ID" to that sender alone and the transfer goes on; the
// client's repeated read request sends DATA 1 again, and a datagram of the client's too
// short to hold an opcode is dropped. The per-datagram rules live, socket-free, in
// lib/tftptransfer.h.
//
// Use (the upgrade worker):
//     if (tftp_start(image_files()[0].c_str())) { type the flash command ... }
//     int ok = tftp_stop(0);   // returns once the transfer has ended: 1 completed, 0 not
// Use (the GUI thread, leaving the upgrade or after the box reported a failure):
//     tftp_abort();            // returns at once
//     tftp_stop(0);            // now returns within moments instead of after the transfer
//
// tftp_start returns 1 only when the server can serve: the file is open and the socket is
// bound to the port. A port that cannot be bound (another program holds it, no permission)
// makes it return 0 with everything released, before the box is asked to fetch anything.
//
// How a caller learns that the transfer ended, and how:
//   - tftp_stop(0) returns only after the server thread has ended, with tftp_result.
//   - Without blocking: tftp_running() turns false when the thread has ended; tftp_result
//     holds the outcome from then on (1 = every block acknowledged, 0 = anything else:
//     no request within six seconds, an ERROR packet from the box, a socket or file error,
//     a box that stopped answering, or tftp_abort). tftp_stop must still be called to
//     release the thread.
//
// The server never waits without a bound: at most six one-second waits for the request,
// and per block at most TFTP_ACK_TIMEOUTS waits of TFTP_ACK_TIMEOUT_MS for its ACK (the
// block is sent again after each). So tftp_stop(0) returns within about ten seconds of the
// box falling silent, on whichever thread it is called; after tftp_abort, within moments,
// because every wait of the server also watches the abort's wake-up descriptor.
//
// Thread-safety: tftp_start is meant for one thread (the worker). tftp_abort may be called
// from any thread at any time; it never blocks and does nothing when no server runs.
// tftp_stop may be called from any thread, also from two at once (the worker after a
// transfer, and the GUI thread on Previous or a box failure), with or without a tftp_abort
// racing them: both return after the thread has ended, and the file, the thread and the
// sockets layer are each released exactly once, by whichever caller comes first; the other
// finds nothing left. It may also be called when no server was started. The server thread
// never waits for the caller's threads, so waiting for it cannot deadlock.
#pragma once

#include "lib/tftptransfer.h"

#include <atomic>

namespace udp {
class Socket;
}

// The box sends its read request here (its flash command names no port).
constexpr int TFTP_PORT = 69;
// RFC 1350 block size; the box's client negotiates no options.
constexpr int TFTP_BLOCK_SIZE = int(tftp::BLOCK_SIZE);
// 4-byte header and one block: the size of the send and receive buffers.
constexpr int TFTP_PACKET_SIZE = int(tftp::PACKET_SIZE);
// Waits of one second each for the read request; the box sends it within six seconds of
// its flash command.
constexpr int TFTP_REQUEST_WAITS = 6;
constexpr int TFTP_REQUEST_WAIT_MS = 1000;
// A block not acknowledged within this time is sent again. CFE's client re-sends its ACK
// after one second of silence (five on some router builds) and gives up after eight
// tries, so two seconds recovers a lost DATA or ACK well within its patience.
constexpr int TFTP_ACK_TIMEOUT_MS = 2000;
// The fifth time-out for one block ends the transfer as failed: about ten seconds without
// an ACK, by which time the box's client has given up too.
constexpr int TFTP_ACK_TIMEOUTS = 5;

// 1 after a completed transfer, else 0; reset to 0 by every tftp_start, set by the server
// thread as its last act.
extern std::atomic<int> tftp_result;

// Bytes of the file that the client has acknowledged in the running or last transfer; reset
// to 0 by every tftp_start. The whole file's size once a transfer has completed.
extern std::atomic<unsigned long long> tftp_bytes_served;

// Opens `path`, binds the server's socket to the port and starts the server thread on them.
// Returns 1 if the thread runs, 0 otherwise (null or empty path, file not openable, port
// not bindable, thread not started, or a previous server that has not ended yet); after a
// 0 nothing is left running or bound. The module owns the file from here on. A 1 must be
// followed by a tftp_stop(0) to release the thread.
int tftp_start(const char *path);

// Asks a running server to end now: it wakes from whatever it waits for (the request, an
// ACK), tells a client it already has that the transfer is over (ERROR 0), logs "transfer
// aborted" and ends with result 0. Returns at once, from any thread; does nothing when no
// server runs, and never touches a server started after it returned.
void tftp_abort();

// With nowait 0 (what the program passes) waits, without a limit of its own, until the
// server thread has ended, then releases what is left (file, thread, sockets layer) and
// returns tftp_result. With nowait not 0 it releases only when the thread has already
// ended; a running server keeps its file and thread for a later tftp_stop(0).
int tftp_stop(int nowait);

// True from a successful tftp_start until the server thread has ended (result stored).
bool tftp_running();

// The server thread's body, started by tftp_start. Not to be called otherwise.
void tftp_thread();

// Sends an ERROR packet (opcode 5, `code`, `text` and a zero byte; a null text sends the
// zero byte alone) on the connected `sock`, built in `buffer`, which must hold
// TFTP_PACKET_SIZE bytes (a longer text is cut to fit). Returns 0 if the packet went out
// whole, 1 otherwise, also when `buffer` is null.
int do_error_nak(const udp::Socket &sock, int code, const char *text, char *buffer);
