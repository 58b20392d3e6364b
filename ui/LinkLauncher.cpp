#include "ui/LinkLauncher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <cerrno>

namespace dravix {

QUrl LinkUrl(const QString& target) {
    return QUrl::fromUserInput(target, QDir::currentPath());
}

QString LinkErrorText(int code) {
    switch (code) {
        case kLinkOutOfResources:
            return QStringLiteral("The operating system is out\nof memory or resources.");
        case kLinkFileNotFound:
            return QStringLiteral("The specified file was not found.");
        case kLinkPathNotFound:
            return QStringLiteral("The specified path was not found.");
        case kLinkAccessDenied:
            return QStringLiteral("The operating system denied\naccess to the specified file.");
        case kLinkOutOfMemory:
            return QStringLiteral("There was not enough memory to complete the operation.");
        case kLinkBadExecutable:
            return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        case kLinkSharingViolation:
            return QStringLiteral("A sharing violation occurred. ");
        case kLinkAssociationIncomplete:
            return QStringLiteral("The filename association is\nincomplete or invalid.");
        case kLinkDdeTimeout:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
        case kLinkDdeFailed:
            return QStringLiteral("The DDE transaction failed.");
        case kLinkDdeBusy:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE transactions\n"
                "were being processed.");
        case kLinkNoAssociation:
            return QStringLiteral("There is no application associated\nwith the given filename extension.");
        case kLinkLibraryNotFound:
            return QStringLiteral("The specified dynamic-link library was not found.");
        default:
            return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    }
}

QString LinkErrorMessage(int code) {
    return QStringLiteral("Can't open link:\n\n") + LinkErrorText(code);
}

QStringList SplitCommandLine(const QString& text) {
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;  // the quote character of the group being read, or null
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (quote == u'\'') {
            if (c == u'\'')
                quote = QChar();
            else
                word += c;
            continue;
        }
        if (quote == u'"') {
            if (c == u'"') {
                quote = QChar();
            } else if (c == u'\\' && i + 1 < size && QStringView(u"\"\\$`").contains(text.at(i + 1))) {
                word += text.at(++i);
            } else {
                word += c;
            }
            continue;
        }
        if (c.isSpace()) {
            if (inWord) words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;  // also for "" and '', which are empty words
        if (c == u'"' || c == u'\'')
            quote = c;
        else if (c == u'\\' && i + 1 < size)
            word += text.at(++i);
        else
            word += c;
    }
    if (inWord) words << word;
    return words;
}

QString BrowserCommandText() {
    const QString browser = QString::fromLocal8Bit(qgetenv("BROWSER")).trimmed();
    if (!browser.isEmpty()) return browser;
    const QString fallback = QStringLiteral("x-www-browser");
    if (!QStandardPaths::findExecutable(fallback).isEmpty()) return fallback;
    return {};
}

std::optional<LaunchCommand> BrowserLaunchCommand(const QString& commandText, const QString& target) {
    QString head = commandText;
    // The target takes the place of the placeholder; what follows the placeholder is dropped,
    // as the shell's own command templates are treated.
    for (QLatin1StringView placeholder :
         {QLatin1StringView("\"%s\""), QLatin1StringView("'%s'"), QLatin1StringView("%s")}) {
        const qsizetype at = commandText.indexOf(placeholder);
        if (at >= 0) {
            head = commandText.left(at);
            break;
        }
    }
    QStringList words = SplitCommandLine(head);
    if (words.isEmpty() || words.front().isEmpty()) return std::nullopt;
    LaunchCommand command;
    command.program = words.takeFirst();
    command.arguments = words;
    command.arguments << target;
    return command;
}

int LaunchErrorCode(int error) {
    switch (error) {
        case ENOENT:
            return kLinkFileNotFound;
        case ENOTDIR:
            return kLinkPathNotFound;
        case EACCES:
        case EPERM:
            return kLinkAccessDenied;
        case ENOMEM:
            return kLinkOutOfMemory;
        case ENOEXEC:
            return kLinkBadExecutable;
        default:
            return kLinkOutOfResources;
    }
}

int LaunchDetached(const LaunchCommand& command) {
    // QProcess reports little about why a detached start failed, so the usual causes are
    // looked at first and named precisely.
    const bool hasPath = command.program.contains(u'/');
    const QString path = hasPath ? command.program : QStandardPaths::findExecutable(command.program);
    if (path.isEmpty()) return kLinkFileNotFound;
    const QFileInfo info(path);
    if (!info.exists()) return info.absoluteDir().exists() ? kLinkFileNotFound : kLinkPathNotFound;
    if (info.isDir() || !info.isExecutable()) return kLinkAccessDenied;
    errno = 0;
    if (QProcess::startDetached(path, command.arguments)) return kLinkOpened;
    return LaunchErrorCode(errno);
}

}  // namespace dravix
