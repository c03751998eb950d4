#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QProcess;

namespace nodalis {

// A serial push component: something outside the server that opens a
// serial port by name and pushes a whole file down it. The server only
// sets it up ("initcom"), hands it a file ("SendProg") and may stop it
// ("Cancel").
class PushComponent : public QObject
{
    Q_OBJECT

public:
    ~PushComponent() override = default;

    // The port by name ("COM" + number), speed, flow mode, parity code
    // (2 even, 1 odd, 0 none), data bits, stop bits.
    virtual void initcom(const QByteArray& port, qint32 baud, qint16 flow, qint32 parity,
                         qint16 dataBits, qint16 stopBits) = 0;
    // Sends the whole file; returns once it is on the wire, events running
    // meanwhile. False, with error() set, when the component failed or was
    // cancelled.
    virtual bool SendProg(const QString& path) = 0;
    // Stops a push at once.
    virtual void Cancel() = 0;
    virtual QString error() const = 0;

signals:
    // The component's own event, with its two values.
    void notice(qint32 first, qint32 second);
};

// Our component: the nodalis-push program beside the server, run for each
// file. deviceName, when not empty, is opened instead of the port's name.
class ProcessPushComponent : public PushComponent
{
    Q_OBJECT

public:
    explicit ProcessPushComponent(const QByteArray& deviceName);
    ~ProcessPushComponent() override;

    void initcom(const QByteArray& port, qint32 baud, qint16 flow, qint32 parity, qint16 dataBits,
                 qint16 stopBits) override;
    bool SendProg(const QString& path) override;
    void Cancel() override;
    QString error() const override { return m_error; }

    // The program run: nodalis-push in the server's own folder.
    static QString ProgramPath();

private:
    QByteArray m_device;
    QStringList m_settings;
    QProcess* m_process = nullptr;
    bool m_cancelled = false;
    QString m_error;
};

} // namespace nodalis
