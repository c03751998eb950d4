#include "sim/ScriptedPeer.h"

#include "sim/MachineSimulator.h"

#include <QFile>

#include <algorithm>
#include <utility>

namespace nodalis::sim {

namespace {

constexpr int kNoiseWaitMs = 1000; // the line stays quiet this long after noise

} // namespace

QString Printable(const QByteArray& bytes)
{
    QString out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (c == '\t')
            out += QLatin1String("\\t");
        else if (c == '\\')
            out += QLatin1String("\\\\");
        else if (u < 32 || u > 126)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}

QString DescribeBytes(const QByteArray& bytes,
                      const std::function<QString(const QByteArray&, qsizetype&)>& nameOf,
                      const std::function<QString(const QByteArray&)>& quote)
{
    if (bytes.isEmpty())
        return QStringLiteral("nothing");
    QStringList parts;
    QByteArray plain;
    const auto flush = [&] {
        if (!plain.isEmpty())
            parts.append(quote(plain));
        plain.clear();
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const QString name = nameOf(bytes, i);
        if (name.isEmpty()) {
            plain += bytes[i];
            continue;
        }
        flush();
        parts.append(name);
    }
    flush();
    return parts.join(QLatin1Char(' '));
}

QByteArray DecodeEscapes(const QString& text)
{
    const QByteArray in = text.toLatin1();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        bool hex = false;
        const int value = c == 'x' ? in.mid(i + 1, 2).toInt(&hex, 16) : 0;
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (hex && in.mid(i + 1, 2).size() == 2) {
            out += char(value);
            i += 2;
        } else
            out += c;
    }
    return out;
}

ScriptedPeer::ScriptedPeer(MachineSimulator& sim, Describe describe, QObject* parent)
    : QObject(parent), m_sim(sim), m_describe(describe)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ScriptedPeer::onTimeout);
    connect(&m_sim, &MachineSimulator::dataReceived, this, &ScriptedPeer::onData);
    m_clock.start();
}

QStringList ScriptedPeer::splitScript(const QString& script)
{
    QStringList steps;
    for (const QString& s : script.split(QLatin1Char(';')))
        if (!s.trimmed().isEmpty())
            steps.append(s.trimmed());
    return steps;
}

QString ScriptedPeer::textAfter(const QString& source, const QString& verb)
{
    QString rest = source.mid(source.indexOf(verb) + verb.size());
    if (rest.startsWith(QLatin1Char(' ')))
        rest.remove(0, 1);
    return rest;
}

bool ScriptedPeer::start(const QStringList& steps)
{
    if (m_running) {
        m_error = QStringLiteral("already running");
        return false;
    }
    m_error = prepare(steps);
    if (!m_error.isEmpty())
        return false;
    m_sources.clear();
    for (const QString& source : steps)
        m_sources.append(source.trimmed());
    m_index = 0;
    m_log.clear();
    m_deviations.clear();
    m_in.clear();
    m_contacted = false;
    m_contactClock.invalidate();
    m_running = true;
    m_phase = IdlePhase;
    m_context = QStringLiteral("before the first step");
    QMetaObject::invokeMethod(
        this, [this] { runNext(); }, Qt::QueuedConnection);
    return true;
}

// ---- steps

void ScriptedPeer::runNext()
{
    if (!m_running)
        return;
    if (m_index >= m_sources.size()) {
        m_running = false;
        m_phase = DonePhase;
        m_timer.stop();
        const bool ok = m_deviations.isEmpty();
        emit finished(ok, ok ? QStringLiteral("all %1 steps passed").arg(m_sources.size())
                             : m_deviations.join(QLatin1String("; ")));
        return;
    }
    m_phase = IdlePhase;
    m_context = QStringLiteral("between steps");
    runStep(m_index);
}

void ScriptedPeer::stepPassed(const QString& line)
{
    emit stepDone(line);
    ++m_index;
    runNext();
}

void ScriptedPeer::pause(int ms)
{
    m_context = QStringLiteral("during the pause");
    enter(PausingPhase, ms,
          [this, source = stepSource()] { stepPassed(source + QStringLiteral(": done")); });
}

void ScriptedPeer::writeNoise(const QByteArray& noise, const QString& outcome, int replyMs)
{
    writeLater(
        noise,
        [this, outcome] {
            m_context = QStringLiteral("after the noise");
            enter(PausingPhase, kNoiseWaitMs, [this, outcome, source = stepSource()] {
                stepPassed(source + QStringLiteral(": ") + outcome);
            });
        },
        QStringLiteral("before the noise"), kGapMs, replyMs);
}

// ---- the line

void ScriptedPeer::onData(const QByteArray& bytes)
{
    if (!m_running)
        return;
    m_lastIn = m_clock.elapsed();
    if (m_in.isEmpty())
        m_inSince = m_lastIn;
    m_in += bytes;
    dataArrived();
}

void ScriptedPeer::enter(int phase, int ms, std::function<void()> onTimeout)
{
    m_phase = phase;
    m_onTimeout = std::move(onTimeout);
    m_timer.start(ms);
}

void ScriptedPeer::onTimeout()
{
    std::function<void()> action = std::exchange(m_onTimeout, nullptr);
    if (m_running && action)
        action();
}

void ScriptedPeer::writeLater(const QByteArray& bytes, std::function<void()> next,
                              const QString& context, int gapMs, int replyMs)
{
    m_context = context;
    if (replyMs < 0)
        replyMs = std::min(gapMs, m_replyGapMs);
    const qint64 due = m_lastIn > m_lastOut ? m_lastIn + replyMs : m_lastOut + gapMs;
    const qint64 delay = std::max<qint64>(0, due - m_clock.elapsed());
    enter(GapPhase, int(delay), [this, bytes, next = std::move(next)] {
        write(bytes);
        next();
    });
}

void ScriptedPeer::write(const QByteArray& bytes)
{
    m_sim.send(bytes, 0);
    m_lastOut = m_clock.elapsed();
    m_log.append(QStringLiteral("> ") + m_describe(bytes));
}

bool ScriptedPeer::readFile(const QString& path, QByteArray& content)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read %1").arg(path));
        return false;
    }
    content = f.readAll();
    return true;
}

// ---- first contact

void ScriptedPeer::calling()
{
    if (!m_contactClock.isValid())
        m_contactClock.start();
}

bool ScriptedPeer::serverAwaited() const
{
    // The server may be reopening its port, or (first contact) not started.
    return !m_contacted && m_firstContactMs > 0 && m_contactClock.isValid() &&
           m_contactClock.elapsed() < m_firstContactMs;
}

int ScriptedPeer::callingSeconds(int calls, int waitMs) const
{
    return m_contacted ? calls * waitMs / 1000 : int(m_contactClock.elapsed() / 1000);
}

// ---- deviations

QString ScriptedPeer::where() const
{
    if (m_index >= m_sources.size())
        return QStringLiteral("after the last step");
    return QStringLiteral("step %1 (%2)").arg(m_index + 1).arg(m_sources[m_index]);
}

void ScriptedPeer::deviation(const QString& what)
{
    const QString message = where() + QStringLiteral(": ") + what;
    m_log.append(QStringLiteral("! ") + message);
    m_deviations.append(message);
}

void ScriptedPeer::fail(const QString& what)
{
    if (!m_running)
        return;
    deviation(what);
    m_running = false;
    m_phase = DonePhase;
    m_timer.stop();
    m_onTimeout = nullptr;
    stopped();
    emit finished(false, m_deviations.join(QLatin1String("; ")));
}

} // namespace nodalis::sim
