#pragma once

// Every timer and retry count of the carrier dialogue, in one place, so that a carrier's quirks can be
// met here without hunting through the code. The defaults are the TAP 1.8 values.

namespace paging {

namespace tap {
constexpr int kT1LoginCrMs = 2000; // interval between the CRs that ask the terminal for "ID="
constexpr int kN1LoginCrs = 3; // CRs sent before giving the terminal up
constexpr int kN3LoginAttempts = 3; // logins tried when the terminal answers NAK
constexpr int kT3ReplyMs = 10000; // wait for the terminal's reply to a block or a login
constexpr int kT4NextBlockMs = 4000; // a block goes within this time of the last reply
constexpr int kN2Retransmits = 3; // a block NAKed more often than this ends the call
constexpr int kMaxBlockContent = 250; // characters of fields in one block
constexpr int kMaxBlockSize = 256; // a whole block, STX to the checksum's CR
constexpr int kMaxRecalls = 8; // new calls after "112 maximum pages" in one StartPage
constexpr int kMaxLineLength = 256; // longest text line kept from the terminal or the modem
} // namespace tap

namespace modem {
constexpr int kCommandReplyMs = 3000; // wait for the modem's answer to a command
constexpr int kConnectMs = 60000; // wait for the result of a dial command
constexpr int kGuardMs = 1100; // silence before and after "+++" (S12 is 1 s by default)
constexpr int kMaxCommandChars = 40; // characters after "AT" that the usual Hayes command line holds
constexpr int kMaxCommas = 10; // pauses in a numeric page's dial command; S8 is set to make up the wait
constexpr int kTcpConnectMs = 10000; // a TAP-over-IP terminal that does not answer by then is dead
constexpr int kCancelEscapeMs = 1300; // after a cancel: wait for the answer to "+++"
constexpr int kCancelReplyMs = 300; // after a cancel: wait for the answer to "ATH0"
} // namespace modem

namespace snpp {
constexpr int kReplyMs = 30000; // wait for the server's whole reply line (the greeting included)
constexpr int kQuitReplyMs = 5000; // wait for the 221 to QUIT before the connection is simply closed
constexpr int kMaxCommandLine = 512; // a command line with its CR LF; a longer MESS goes as DATA
constexpr int kMaxDataLine = 510; // a DATA line without its CR LF; longer lines are wrapped
constexpr int kMaxReplyLine = 512; // longest reply line kept; beyond it the line is noise
} // namespace snpp

// The values one page uses, copied when the page starts. Tests shorten the waits they need to sit out;
// everything else keeps the defaults above.
struct ProtocolTimings {
    int t1LoginCrMs = tap::kT1LoginCrMs;
    int n1LoginCrs = tap::kN1LoginCrs;
    int n3LoginAttempts = tap::kN3LoginAttempts;
    int t3ReplyMs = tap::kT3ReplyMs;
    int t4NextBlockMs = tap::kT4NextBlockMs;
    int n2Retransmits = tap::kN2Retransmits;
    int commandReplyMs = modem::kCommandReplyMs;
    int connectMs = modem::kConnectMs;
    int guardMs = modem::kGuardMs;
    int tcpConnectMs = modem::kTcpConnectMs;
    int snppReplyMs = snpp::kReplyMs;
};

// Process-wide timings for pages started from now on.
ProtocolTimings protocolTimings();
void setProtocolTimings(const ProtocolTimings& timings);

} // namespace paging
