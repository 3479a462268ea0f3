#include "hayesmodem.h"

#include "asciicontrol.h"
#include "exchange.h"
#include "tapterminal.h"

namespace pagersim {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Characters that may stand in a dial string; anything else makes the dial an error, so a text can
// never smuggle commands into the modem through a phone number.
bool isDialChar(char c)
{
    return isDigit(c) || c == '*' || c == '#' || c == ',' || c == 'W' || c == '@' || c == '!' || c == 'P'
        || c == 'T' || c == ' ';
}

bool isPause(char c)
{
    return c == ',' || c == 'W' || c == '@';
}

QString keypadDigits(QByteArrayView text)
{
    QString digits;
    for (char c : text) {
        if (isDigit(c) || c == '*' || c == '#')
            digits += QLatin1Char(c);
    }
    return digits;
}

} // namespace

HayesModem::HayesModem(Exchange* exchange, QObject* parent)
    : QObject(parent)
    , m_exchange(exchange)
{
    m_guard.setSingleShot(true);
    connect(&m_guard, &QTimer::timeout, this, &HayesModem::onGuardTimeout);
}

HayesModem::~HayesModem()
{
    delete m_terminal;
}

void HayesModem::feed(QByteArrayView bytes)
{
    QByteArray echo;
    for (char c : bytes) {
        m_pluses = c == '+' ? m_pluses + 1 : 0;
        if (m_mode == Mode::Online) {
            if (m_terminal)
                m_terminal->feed(QByteArrayView(&c, 1));
            continue;
        }
        if (m_echo)
            echo += c;
        if (!echo.isEmpty() && c == CR) {
            emit output(echo);
            echo.clear();
        }
        commandByte(c);
    }
    if (!echo.isEmpty())
        emit output(echo);
    if (m_pluses == 3)
        m_guard.start(m_guardMs);
    else
        m_guard.stop();
}

void HayesModem::dropLine()
{
    m_line.clear();
    m_pluses = 0;
    m_guard.stop();
    if (inCall()) {
        hangUp();
    } else if (std::exchange(m_faultedAttempt, false)) {
        // The client gave up on a modem that would not serve it: that attempt was its call, so a
        // fault counted in calls moves on to the next one.
        m_call = m_exchange->beginCall();
        m_exchange->endCall(m_call, 0);
    }
}

void HayesModem::commandByte(char c)
{
    if (c == LF)
        return;
    if (c == 0x08 || c == 0x7F) {
        m_line.chop(1);
        return;
    }
    if (c != CR) {
        if (m_line.size() <= kMaxCommandLine)
            m_line += c;
        return;
    }
    const QByteArray line = std::exchange(m_line, {});
    executeLine(line);
}

int HayesModem::faultCall() const
{
    return inCall() ? m_call : m_exchange->nextCall();
}

void HayesModem::executeLine(const QByteArray& rawLine)
{
    const QByteArray line = rawLine.trimmed();
    if (line.isEmpty())
        return;
    m_exchange->recordModemCommand(QString::fromLatin1(line));
    const CallFaults faults = m_exchange->faultsFor(faultCall());
    if (!inCall() && (faults.modemSilent || faults.modemError))
        m_faultedAttempt = true;
    if (faults.modemSilent)
        return;
    const qsizetype at = line.toUpper().indexOf("AT");
    if (at < 0 || line.size() > kMaxCommandLine) {
        result("ERROR");
        return;
    }
    const QByteArray commands = line.mid(at + 2);
    if (faults.modemError) {
        const QByteArray bare = commands.toUpper().replace(' ', "");
        if (bare != "H" && bare != "H0") {
            result("ERROR");
            return;
        }
    }
    bool dialled = false;
    if (!execute(commands, &dialled))
        result("ERROR");
    else if (!dialled)
        result("OK");
}

bool HayesModem::execute(const QByteArray& commands, bool* dialled)
{
    const QByteArray upper = commands.toUpper();
    const qsizetype n = upper.size();
    qsizetype i = 0;
    const auto number = [&] {
        const qsizetype start = i;
        while (i < n && isDigit(upper[i]))
            ++i;
        return upper.mid(start, i - start);
    };
    QByteArray answers; // what S? and I print before OK
    while (i < n) {
        const char c = upper[i++];
        switch (c) {
        case ' ':
            break;
        case 'D':
            *dialled = true;
            if (!answers.isEmpty())
                emit output(answers);
            return dial(commands.mid(i));
        case 'S': {
            const QByteArray reg = number();
            if (reg.isEmpty() || i >= n)
                return false;
            if (upper[i] == '=') {
                ++i;
                m_registers[reg.toInt()] = number().toInt();
            } else if (upper[i] == '?') {
                ++i;
                answers += "\r\n" + QByteArray::number(m_registers.value(reg.toInt())).rightJustified(3, '0')
                    + "\r\n";
            } else {
                return false;
            }
            break;
        }
        case '&':
        case '\\':
        case '%':
            if (i >= n || !isLetter(upper[i]))
                return false;
            ++i;
            number();
            break;
        case 'E':
            m_echo = number().toInt() == 1;
            break;
        case 'Z':
            number();
            m_echo = false;
            m_registers.clear();
            if (inCall())
                hangUp();
            break;
        case 'H':
            if (number().toInt() == 0 && inCall())
                hangUp();
            break;
        case 'I':
            number();
            answers += "\r\nPlimoPager32 carrier simulator\r\n";
            break;
        case 'B':
        case 'C':
        case 'F':
        case 'L':
        case 'M':
        case 'N':
        case 'P':
        case 'Q':
        case 'T':
        case 'V':
        case 'W':
        case 'X':
        case 'Y':
            number();
            break;
        default:
            return false;
        }
    }
    if (!answers.isEmpty())
        emit output(answers);
    return true;
}

bool HayesModem::dial(QByteArray dialString)
{
    dialString = dialString.trimmed().toUpper();
    const bool stayInCommandMode = dialString.endsWith(';');
    if (stayInCommandMode)
        dialString.chop(1);
    if (dialString.isEmpty() || !std::all_of(dialString.cbegin(), dialString.cend(), isDialChar))
        return false;
    const bool pulse = dialString.startsWith('P');
    QByteArray dialled = dialString;
    dialled.replace(' ', "").replace('T', "").replace('P', "");
    if (dialled.isEmpty())
        return false;

    if (m_mode == Mode::NumericCall) {
        // More digits for the numeric page already dialled.
        m_digits += keypadDigits(dialled);
        result("OK");
        return true;
    }

    m_faultedAttempt = false;
    m_call = m_exchange->beginCall();
    const CallFaults faults = m_exchange->faultsFor(m_call);
    QByteArray number = dialled;
    m_digits.clear();
    if (stayInCommandMode) {
        // A numeric page: the pager's number up to the first pause, the page's digits after it.
        const qsizetype pause = std::find_if(dialled.cbegin(), dialled.cend(), isPause) - dialled.cbegin();
        number = dialled.left(pause);
        m_digits = keypadDigits(QByteArrayView(dialled).sliced(pause));
    }
    m_number = QString::fromLatin1(number);
    m_exchange->record(m_call,
        { { QStringLiteral("event"), QStringLiteral("dial") }, { QStringLiteral("number"), m_number },
            { QStringLiteral("mode"), pulse ? QStringLiteral("pulse") : QStringLiteral("tone") } });

    if (!faults.dialResult.isEmpty()) {
        result(faults.dialResult);
        m_exchange->endCall(m_call, 0);
        return true;
    }
    if (stayInCommandMode) {
        m_mode = Mode::NumericCall;
        result("OK");
        return true;
    }

    m_mode = Mode::Online;
    result("CONNECT " + QByteArray::number(m_exchange->connectBaud));
    m_exchange->record(m_call,
        { { QStringLiteral("event"), QStringLiteral("connect") },
            { QStringLiteral("via"), QStringLiteral("pty") } });
    m_terminal = new TapTerminal(faults, m_exchange->password, this);
    connect(m_terminal, &TapTerminal::output, this, &HayesModem::output);
    connect(m_terminal, &TapTerminal::event, this,
        [this, call = m_call](const QJsonObject& event) { m_exchange->record(call, event); });
    connect(m_terminal, &TapTerminal::dropped, this, &HayesModem::onTerminalDropped);
    m_terminal->start();
    return true;
}

void HayesModem::result(const QByteArray& text)
{
    emit output("\r\n" + text + "\r\n");
}

void HayesModem::hangUp()
{
    if (m_mode == Mode::NumericCall && !m_digits.isEmpty()) {
        m_exchange->record(m_call,
            { { QStringLiteral("event"), QStringLiteral("numeric") }, { QStringLiteral("number"), m_number },
                { QStringLiteral("digits"), m_digits } });
    }
    m_exchange->record(m_call, { { QStringLiteral("event"), QStringLiteral("hangup") } });
    endCall();
}

void HayesModem::endCall()
{
    const int pages = m_terminal ? m_terminal->acceptedPages() : 0;
    if (m_terminal) {
        m_terminal->disconnect(this);
        m_terminal->deleteLater();
        m_terminal = nullptr;
    }
    m_mode = Mode::Command;
    m_exchange->endCall(m_call, pages);
}

void HayesModem::onTerminalDropped()
{
    if (m_mode != Mode::Online)
        return;
    result("NO CARRIER");
    endCall();
}

void HayesModem::onGuardTimeout()
{
    if (m_pluses != 3)
        return;
    m_pluses = 0;
    if (m_mode == Mode::Online) {
        hangUp();
        result("OK");
    } else if (m_line.endsWith("+++")) {
        m_line.chop(3);
        result("OK");
    }
}

} // namespace pagersim
