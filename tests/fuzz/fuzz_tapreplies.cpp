// Whatever a modem and a paging terminal may answer: the bytes of the input come back over a
// socket pair, as the line's 7-bit data, to a modem dialogue (init and dial) followed by a TAP 1.8
// session (login, a page with a control character and a long text, logout). Every outcome is a
// status; no reply may crash the client or make it wait beyond its timers.

#include "fuzzsupport.h"
#include "paging/line.h"
#include "paging/modemdialogue.h"
#include "paging/tapsession.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray seed()
{
    return QByteArray("OK\r\nCONNECT 1200\r\nID=\r") + '\x06' + "\r\x1b[p\r" + '\x06' + "\r" + '\x06' + "\r\x1b\x04\r";
}

paging::ProtocolTimings quick()
{
    paging::ProtocolTimings t;
    t.t1LoginCrMs = 2;
    t.t3ReplyMs = 5;
    t.t4NextBlockMs = 5;
    t.commandReplyMs = 5;
    t.connectMs = 5;
    t.guardMs = 1;
    t.tcpConnectMs = 5;
    return t;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::handleSeedOption(argc, argv, seed);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::scratchFolder();
    if (size > 65536)
        return 0; // more than the socket holds before anybody reads
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0)
        return 0;
    const int cancel = ::eventfd(0, EFD_NONBLOCK);
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fds[1], data + written, size - written);
        if (n <= 0)
            break;
        written += size_t(n);
    }
    ::shutdown(fds[1], SHUT_WR); // the far end says nothing more: every wait ends at the input's end
    {
        paging::Line line(fds[0], cancel, nullptr, true, 0);
        const paging::ProtocolTimings timings = quick();
        paging::ModemDialogue modem(line, timings);
        if (modem.initialize(QStringLiteral("ATZ~ATE0V1~")) == 0
            && modem.dial("ATDT5551234", timings.connectMs, false) == 0) {
            paging::TapSession session(line, timings);
            if (session.login(QStringLiteral("secret")) == 0) {
                session.sendPage(QStringLiteral("1234"), QStringLiteral("Call\x1b the desk ") + QString(300, u'x'));
                session.logout();
            }
        }
        modem.hangUp(true, false);
    }
    ::close(fds[1]);
    ::close(cancel);
    return 0;
}
