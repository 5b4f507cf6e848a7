// Test seam of the TFTP server, for its unit tests and benchmarks only.
//
// The program never includes this header and has no setting that reaches it: the box
// always asks port 69, and the time-outs are the constants of lib/tftpthread.h. Unit tests
// use it to run the server on a free port (so they need no privileges and can run side by
// side) and to shorten the ACK time-out where they provoke it. Values apply to servers
// started afterwards.
#pragma once

// The port the next servers bind: 0 lets the system choose; a negative value restores
// TFTP_PORT.
void tftp_seam_set_port(int port);

// Milliseconds a block waits for its ACK before it is sent again; a value <= 0 restores
// TFTP_ACK_TIMEOUT_MS.
void tftp_seam_set_ack_timeout_ms(int ms);

// The port the last tftp_start bound (it binds before it returns), or -1 when that start
// failed. Never blocks; the name stays from when the server bound on its own thread.
int tftp_seam_wait_bound_port();

// How many of its waits for the read request (TFTP_REQUEST_WAITS of TFTP_REQUEST_WAIT_MS)
// the last started server has begun; 0 from tftp_start until the first. A test that asks late
// in that wait waits for the last one to begin instead of guessing at a time.
int tftp_seam_request_waits_begun();

// Sockets-layer start-ups not yet cleaned up (each tftp_start takes one, released once).
int tftp_seam_sockets_users();
