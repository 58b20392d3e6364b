#include "app/DriveWatcher.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <utility>

#include "drive/HotPlug.h"
#include "drive/Platform.h"

namespace dravix {

namespace {

// The events of one drive (its block node, its generic node) arrive together.
constexpr int kSettleMs = 300;
// How often the virtual drive's state file is looked at.
constexpr int kVirtualWatchMs = 500;

constexpr const char* kVirtualStateVariable = "DRAVIX_VDRIVE_STATE";

constexpr int kInquiryOpcode = 0x12;

}  // namespace

QByteArray VirtualDriveList(const QByteArray& stateText) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(stateText, &error);
    const QJsonValue drives = document.object().value(QStringLiteral("drives"));
    if (error.error != QJsonParseError::NoError || !drives.isArray()) return stateText;
    QJsonArray listed;
    for (const QJsonValue& drive : drives.toArray()) {
        const QJsonObject state = drive.toObject();
        QJsonObject shown;
        for (const char* key : {"kind", "target", "vendor", "product", "revision"}) {
            const QString name = QString::fromLatin1(key);
            shown.insert(name, state.value(name));
        }
        QJsonArray inquiryFaults;
        for (const QJsonValue& fault : state.value(QStringLiteral("faults")).toArray()) {
            if (fault.toObject().value(QStringLiteral("opcode")).toInt(-1) == kInquiryOpcode)
                inquiryFaults.append(fault);
        }
        shown.insert(QStringLiteral("faults"), inquiryFaults);
        listed.append(shown);
    }
    return QJsonDocument(listed).toJson(QJsonDocument::Compact);
}

DriveWatcher::DriveWatcher(QObject& window, std::function<bool()> busy, std::function<void()> rescan)
    : QObject(&window), m_busy(std::move(busy)), m_rescan(std::move(rescan)) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &DriveWatcher::TryRescan);
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &DriveWatcher::Request);
}

DriveWatcher::~DriveWatcher() {
    Stop();
}

void DriveWatcher::Start() {
    m_hotPlug = OpenHotPlugMonitor();
    if (m_hotPlug) {
        m_hotPlugNotifier = new QSocketNotifier(m_hotPlug->Descriptor(), QSocketNotifier::Read, this);
        connect(m_hotPlugNotifier, &QSocketNotifier::activated, this, [this] {
            if (m_hotPlug->DrainDriveEvents()) m_settle.start();
        });
    }
    // The virtual drive's drives live in its state file, which its tool rewrites (a new file
    // renamed over the old one) whenever they change.
    const QString state = qEnvironmentVariable(kVirtualStateVariable);
    if (state.isEmpty() || qEnvironmentVariableIsEmpty(kAspiLibraryVariable)) return;
    const auto stamp = [state] {
        const QFileInfo info(state);
        return info.exists() ? info.lastModified().toString(Qt::ISODateWithMs) + QString::number(info.size())
                             : QString();
    };
    const auto drives = [state] {
        QFile file(state);
        return VirtualDriveList(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    };
    m_virtualStamp = stamp();
    m_virtualDrives = drives();
    m_virtualWatch.setInterval(kVirtualWatchMs);
    connect(&m_virtualWatch, &QTimer::timeout, this, [this, stamp, drives] {
        const QString now = stamp();
        if (now == m_virtualStamp) return;
        m_virtualStamp = now;
        // Only a change of what the drive list shows is worth listing the drives again: each
        // listing is an INQUIRY per drive.
        QByteArray listed = drives();
        if (listed == m_virtualDrives) return;
        m_virtualDrives = std::move(listed);
        Request();
    });
    m_virtualWatch.start();
}

void DriveWatcher::Request() {
    m_wanted = true;
    TryRescan();
}

void DriveWatcher::Stop() {
    m_stopped = true;
    m_retry.stop();
    m_settle.stop();
    m_virtualWatch.stop();
}

void DriveWatcher::TryRescan() {
    if (!m_wanted || m_stopped) return;
    // Never under a scan or a command sequence: their tables keep the drives they listed until
    // they end.
    if (m_busy()) {
        m_retry.start();
        return;
    }
    m_wanted = false;
    m_rescan();
}

}  // namespace dravix
