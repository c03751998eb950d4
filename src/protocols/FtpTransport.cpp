#include "protocols/FtpTransport.h"

#include "dnc/EventMessages.h"
#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/NativeSocket.h"
#include "protocols/CurlCalls.h"
#include "protocols/FtpListing.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

#include <QFile>
#include <QHash>
#include <QScopedValueRollback>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <climits>

namespace nodalis {

namespace {

constexpr qint64 kConnectMs = 10000;
// Without a byte for this long a transfer (or a reply) has stalled.
constexpr qint64 kStallMs = 30000;
// Longest wait between two looks at the stop flag.
constexpr qint64 kStopCheckMs = 200;

// The libcurl calls, once ClsFTP::run has loaded them.
const CurlCalls& curl()
{
    QString why;
    return *LoadCurl(&why);
}

// A time-out in whole seconds of real time, at least one.
long realSeconds(qint64 ms)
{
    return qMax(1L, long(Clock::realMs(ms) / 1000));
}

QByteArray escaped(CURL* easy, const QString& name)
{
    const QByteArray bytes = toAnsi(name);
    char* e = curl().easy_escape(easy, bytes.constData(), int(bytes.size()));
    const QByteArray out(e);
    curl().free(e);
    return out;
}

} // namespace

// One easy handle on a multi handle, driven by the event loop: a notifier
// for each socket libcurl watches and one timer for its time-outs. Their
// callbacks only drive libcurl and note the end of the transfer.
class FtpSession
{
public:
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // The easy handle, its options reset but for the session's own.
    CURL* fresh();
    const char* errors() const { return m_errors; }
    // Runs the transfer set on the easy handle to its end while events run,
    // calling tick after each wait; a stop request ends it (stopped).
    CURLcode run(const std::function<void()>& tick, bool& stopped);

private:
    struct Watch
    {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static int onSocket(CURL*, curl_socket_t s, int what, void* self, void*);
    static int onTimer(CURLM*, long ms, void* self);
    static curl_socket_t onOpen(void* self, curlsocktype, curl_sockaddr* address);
    static int onClose(void* self, curl_socket_t s);
    void watch(QSocketNotifier*& notifier, curl_socket_t s, QSocketNotifier::Type type, bool on);
    bool watching() const;
    void act(curl_socket_t s, int flags);
    void collect();

    CURLM* m_multi;
    CURL* m_easy;
    QTimer m_timer;
    QHash<curl_socket_t, Watch> m_watches;
    QSet<curl_socket_t> m_open; // opened for libcurl and not closed yet
    char m_errors[CURL_ERROR_SIZE] = {};
    bool m_done = false;
    CURLcode m_result = CURLE_OK;
};

FtpSession::FtpSession() : m_multi(curl().multi_init()), m_easy(curl().easy_init())
{
    curl().multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, onSocket);
    curl().multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl().multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, onTimer);
    curl().multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

FtpSession::~FtpSession()
{
    // Closing a connection, libcurl says QUIT and waits for the answer, up to
    // two minutes from a machine switched off without a word; on a socket
    // shut down first, that fails at once.
    for (const curl_socket_t s : std::as_const(m_open))
        ShutdownSocket(qintptr(s));
    curl().multi_cleanup(m_multi);
    curl().easy_cleanup(m_easy);
    for (const Watch& w : std::as_const(m_watches)) {
        delete w.read;
        delete w.write;
    }
}

CURL* FtpSession::fresh()
{
    // A reset keeps the connection, which the multi handle holds.
    curl().easy_reset(m_easy);
    m_errors[0] = 0;
    curl().easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errors);
    curl().easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl().easy_setopt(m_easy, CURLOPT_OPENSOCKETFUNCTION, onOpen);
    curl().easy_setopt(m_easy, CURLOPT_OPENSOCKETDATA, this);
    curl().easy_setopt(m_easy, CURLOPT_CLOSESOCKETFUNCTION, onClose);
    curl().easy_setopt(m_easy, CURLOPT_CLOSESOCKETDATA, this);
    // Kept until the server ends it, however long the machine stays idle.
    curl().easy_setopt(m_easy, CURLOPT_MAXAGE_CONN, 7L * 24 * 3600);
    return m_easy;
}

CURLcode FtpSession::run(const std::function<void()>& tick, bool& stopped)
{
    m_done = false;
    m_result = CURLE_OK;
    stopped = false;
    if (curl().multi_add_handle(m_multi, m_easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    while (!m_done && !(stopped = State().stopRequested)) {
        WaitForEvents(kStopCheckMs);
        // libcurl (7.88) can reach the connect of a data connection with no
        // socket to watch and nothing due before the connect time-out: the
        // transfer then goes on only when driven.
        if (!m_done && !watching()) {
            int running = 0;
            curl().multi_perform(m_multi, &running);
            collect();
        }
        tick();
    }
    // Before its end, this drops the connection without a word.
    curl().multi_remove_handle(m_multi, m_easy);
    return m_result;
}

int FtpSession::onSocket(CURL*, curl_socket_t s, int what, void* self, void*)
{
    auto* session = static_cast<FtpSession*>(self);
    if (what == CURL_POLL_REMOVE) {
        // Maybe inside the notifier's own signal: deleted from the event loop.
        const Watch w = session->m_watches.take(s);
        for (QSocketNotifier* n : {w.read, w.write}) {
            if (n) {
                n->setEnabled(false);
                n->deleteLater();
            }
        }
        return 0;
    }
    Watch& w = session->m_watches[s];
    session->watch(w.read, s, QSocketNotifier::Read, what & CURL_POLL_IN);
    session->watch(w.write, s, QSocketNotifier::Write, what & CURL_POLL_OUT);
    return 0;
}

void FtpSession::watch(QSocketNotifier*& notifier, curl_socket_t s, QSocketNotifier::Type type,
                       bool on)
{
    if (!notifier && on) {
        notifier = new QSocketNotifier(qintptr(s), type);
        const int flag = type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
        QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                         [this, s, flag] { act(s, flag); });
    }
    if (notifier)
        notifier->setEnabled(on);
}

bool FtpSession::watching() const
{
    for (const Watch& w : m_watches) {
        if ((w.read && w.read->isEnabled()) || (w.write && w.write->isEnabled()))
            return true;
    }
    return false;
}

int FtpSession::onTimer(CURLM*, long ms, void* self)
{
    QTimer& timer = static_cast<FtpSession*>(self)->m_timer;
    if (ms < 0)
        timer.stop();
    else
        timer.start(int(qMin(ms, long(INT_MAX))));
    return 0;
}

curl_socket_t FtpSession::onOpen(void* self, curlsocktype, curl_sockaddr* address)
{
    const curl_socket_t s = socket(address->family, address->socktype, address->protocol);
    if (s != CURL_SOCKET_BAD)
        static_cast<FtpSession*>(self)->m_open.insert(s);
    return s;
}

int FtpSession::onClose(void* self, curl_socket_t s)
{
    static_cast<FtpSession*>(self)->m_open.remove(s);
    return CloseSocket(qintptr(s));
}

void FtpSession::act(curl_socket_t s, int flags)
{
    int running = 0;
    curl().multi_socket_action(m_multi, s, flags, &running);
    collect();
}

void FtpSession::collect()
{
    int left = 0;
    while (const CURLMsg* msg = curl().multi_info_read(m_multi, &left)) {
        if (msg->msg == CURLMSG_DONE) {
            m_result = msg->data.result;
            m_done = true;
        }
    }
}

// What one operation asks of the server, and where its bytes go.
struct FtpRequest
{
    QStringList folder;         // where it works, below the login folder
    QString file;               // the file transferred; empty: nothing is
    QByteArray listCommand;     // MLSD or LIST of the folder, into text
    QList<QByteArray> commands; // said in the folder
    bool upload = false;        // stores file from source (none: empty)
    QFile* source = nullptr;
    QFile* sink = nullptr; // where a download goes
    QByteArray* text = nullptr;
    RemoteTransport::Progress progress;

    qint64 received = 0;
    QString failure;   // why this side ended the transfer
    long response = 0; // the server's last reply
};

namespace {

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* r = static_cast<FtpRequest*>(user);
    const qint64 n = qint64(size * count);
    if (r->sink && r->sink->write(data, n) != n) {
        r->failure = r->sink->errorString();
        return 0;
    }
    if (r->text) {
        if (r->text->size() + n > FtpListingByteLimit(kFtpListingCap)) {
            r->failure = QStringLiteral("listing longer than %1 entries").arg(kFtpListingCap);
            return 0;
        }
        r->text->append(data, n);
    }
    r->received += n;
    return size_t(n);
}

size_t onSend(char* buffer, size_t size, size_t count, void* user)
{
    auto* r = static_cast<FtpRequest*>(user);
    if (!r->source)
        return 0;
    const qint64 n = r->source->read(buffer, qint64(size * count));
    if (n < 0) {
        r->failure = r->source->errorString();
        return CURL_READFUNC_ABORT;
    }
    return size_t(n);
}

} // namespace

ClsFTP::ClsFTP() = default;

ClsFTP::~ClsFTP() = default;

bool ClsFTP::run(FtpRequest& r)
{
    if (m_busy) {
        m_lastError = QStringLiteral("another FTP operation is running");
        return false;
    }
    const QScopedValueRollback busy(m_busy, true);
    const Settings& s = Config();
    QString host = fromAnsi(TrimSpaces(s.RemoteHost));
    const QByteArray port = TrimSpaces(s.RemotePort).isEmpty() ? "21" : TrimSpaces(s.RemotePort);
    const int portNumber = port.toInt();
    if (host.isEmpty() || portNumber < 1 || portNumber > 65535) {
        m_lastError = QStringLiteral("no FTP server address (RemoteHost, RemotePort)");
        return false;
    }
    if (host.contains(u':'))
        host = u'[' + host + u']';

    QString why;
    if (!LoadCurl(&why)) {
        m_lastError = why;
        return false;
    }
    if (m_reconnect)
        m_session.reset();
    m_reconnect = false;
    if (!m_session)
        m_session = std::make_unique<FtpSession>();
    CURL* easy = m_session->fresh();

    // The path is taken from the login folder, one CWD per folder.
    QByteArray url = "ftp://" + host.toUtf8() + ':' + QByteArray::number(portNumber) + '/';
    for (const QString& folder : std::as_const(r.folder))
        url += escaped(easy, folder) + '/';
    url += escaped(easy, r.file);
    curl().easy_setopt(easy, CURLOPT_URL, url.constData());
    curl().easy_setopt(easy, CURLOPT_USERNAME, s.ReseauUserName.constData());
    curl().easy_setopt(easy, CURLOPT_PASSWORD, s.UserPassword.constData());
    curl().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(Clock::realMs(kConnectMs)));
    curl().easy_setopt(easy, CURLOPT_ACCEPTTIMEOUT_MS, long(Clock::realMs(kConnectMs)));
    curl().easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl().easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, realSeconds(kStallMs));
    curl().easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, realSeconds(kStallMs));
    if (TrimSpaces(s.FtpMode).toLower() == "active")
        curl().easy_setopt(easy, CURLOPT_FTPPORT, "-");
    curl().easy_setopt(easy, CURLOPT_WRITEFUNCTION, onData);
    curl().easy_setopt(easy, CURLOPT_WRITEDATA, &r);
    if (!r.listCommand.isEmpty())
        curl().easy_setopt(easy, CURLOPT_CUSTOMREQUEST, r.listCommand.constData());
    if (r.upload) {
        curl().easy_setopt(easy, CURLOPT_UPLOAD, 1L);
        curl().easy_setopt(easy, CURLOPT_READFUNCTION, onSend);
        curl().easy_setopt(easy, CURLOPT_READDATA, &r);
        // Large pieces: a program goes out in few reads and writes.
        curl().easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
        curl().easy_setopt(easy, CURLOPT_INFILESIZE_LARGE,
                           curl_off_t(r.source ? r.source->size() : 0));
    }
    // Said after the CWDs (QUOTE commands would come before them), on the
    // folder itself: nothing is transferred.
    curl_slist* commands = nullptr;
    for (const QByteArray& c : std::as_const(r.commands))
        commands = curl().slist_append(commands, c.constData());
    curl().easy_setopt(easy, CURLOPT_PREQUOTE, commands);
    if (r.file.isEmpty() && r.listCommand.isEmpty())
        curl().easy_setopt(easy, CURLOPT_NOBODY, 1L);

    bool stopped = false;
    qint64 told = 0;
    const CURLcode code = m_session->run(
        [&] {
            if (r.progress && r.received != told)
                r.progress(told = r.received);
        },
        stopped);
    curl().slist_free_all(commands);
    curl().easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &r.response);
    curl_off_t announced = -1;
    curl().easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);

    bool ok = false;
    if (stopped)
        m_lastError = QStringLiteral("stopped");
    else if (code != CURLE_OK && !r.failure.isEmpty())
        m_lastError = r.failure;
    else if (code != CURLE_OK)
        m_lastError = QString::fromLocal8Bit(*m_session->errors() ? m_session->errors()
                                                                  : curl().easy_strerror(code));
    else if (r.sink && announced >= 0 && announced != r.received)
        m_lastError = QStringLiteral("%1 of %2 bytes received").arg(r.received).arg(announced);
    else
        ok = true;

    const bool refused = code == CURLE_LOGIN_DENIED || r.response == 530;
    if (refused && !m_refusalSaid)
        SetStatus(313);
    m_refusalSaid = refused || (m_refusalSaid && !ok);
    m_connected = ok;
    return ok;
}

bool ClsFTP::checkName(const QString& name)
{
    if (IsPlainRemoteName(name))
        return true;
    m_lastError = QStringLiteral("invalid remote name");
    return false;
}

bool ClsFTP::inFolder(const QList<QByteArray>& commands)
{
    FtpRequest r;
    r.folder = m_folder;
    r.commands = commands;
    return run(r);
}

bool ClsFTP::connect()
{
    if (m_connected && !m_reconnect)
        return true;
    FtpRequest r; // the login folder, nothing said: logs in
    return run(r);
}

void ClsFTP::disconnect()
{
    m_connected = false;
    m_folder.clear();
    if (m_busy)
        m_reconnect = true; // not under the operation running
    else
        m_session.reset();
}

bool ClsFTP::list(const QString& folder, RemoteListing& listing)
{
    QStringList target = m_folder;
    if (folder == u"..") {
        if (!target.isEmpty())
            target.removeLast();
    } else if (!folder.isEmpty() && folder != u".") {
        if (!checkName(folder))
            return false;
        target.append(folder);
    }
    QByteArray text;
    const auto fetch = [&](const QByteArray& command) {
        text.clear();
        FtpRequest r;
        r.folder = target;
        r.listCommand = command;
        r.text = &text;
        return std::pair{run(r), r.response};
    };
    bool mlsd = !m_withoutMlsd;
    auto [ok, response] = fetch(mlsd ? "MLSD" : "LIST");
    if (!ok && mlsd && (response == 500 || response == 501 || response == 502 || response == 504)) {
        m_withoutMlsd = true; // not understood: this server lists with LIST
        mlsd = false;
        ok = fetch("LIST").first;
    }
    RemoteListing got;
    if (ok && !(ok = ParseFtpListing(text, mlsd, got, kFtpListingCap)))
        m_lastError = QStringLiteral("more than %1 entries in the folder").arg(kFtpListingCap);
    if (!ok) {
        m_reconnect = true;
        return false;
    }
    m_folder = target;
    listing = std::move(got);
    return true;
}

bool ClsFTP::put(const QString& localPath, const QString& name)
{
    if (!checkName(name))
        return false;
    QFile source(localPath);
    if (!source.open(QIODevice::ReadOnly)) {
        m_lastError = source.errorString();
        return false;
    }
    FtpRequest r;
    r.folder = m_folder;
    r.file = name;
    r.upload = true;
    r.source = &source;
    return run(r);
}

bool ClsFTP::get(const QString& name, const QString& localPath, const Progress& progress)
{
    if (!checkName(name))
        return false;
    // Unbuffered: each piece is written as it arrives, and a write that
    // fails is known at once.
    QFile sink(localPath);
    if (!sink.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_lastError = sink.errorString();
        return false;
    }
    FtpRequest r;
    r.folder = m_folder;
    r.file = name;
    r.sink = &sink;
    r.progress = progress;
    return run(r);
}

bool ClsFTP::deleteFile(const QString& name)
{
    return checkName(name) && inFolder({"DELE " + toAnsi(name)});
}

bool ClsFTP::deleteFolder(const QString& name)
{
    return checkName(name) && inFolder({"RMD " + toAnsi(name)});
}

bool ClsFTP::rename(const QString& from, const QString& to)
{
    return checkName(from) && checkName(to) &&
           inFolder({"RNFR " + toAnsi(from), "RNTO " + toAnsi(to)});
}

bool ClsFTP::createFolder(const QString& name)
{
    return checkName(name) && inFolder({"MKD " + toAnsi(name)});
}

bool ClsFTP::createTextFile(const QString& name)
{
    if (!checkName(name))
        return false;
    FtpRequest r; // no source: an empty file
    r.folder = m_folder;
    r.file = name;
    r.upload = true;
    return run(r);
}

} // namespace nodalis
