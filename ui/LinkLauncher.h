#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

namespace dravix {

// How a link's target is opened, apart from the control that shows it (CHyperLink).

// A program and its arguments, started without a shell so that no character of a link target
// is ever interpreted.
struct LaunchCommand {
    QString program;
    QStringList arguments;
};

// Outcome of an attempt to open a link, in the shell's numbering: above kLinkLastFailure the
// link was opened; kLinkLastFailure and below name the failure and select the text of the error
// report.
constexpr int kLinkOpened = 33;
constexpr int kLinkLastFailure = 32;
constexpr int kLinkOutOfResources = 0;
constexpr int kLinkFileNotFound = 2;
constexpr int kLinkPathNotFound = 3;
constexpr int kLinkAccessDenied = 5;
constexpr int kLinkOutOfMemory = 8;
constexpr int kLinkBadExecutable = 11;
constexpr int kLinkSharingViolation = 26;
constexpr int kLinkAssociationIncomplete = 27;
constexpr int kLinkDdeTimeout = 28;
constexpr int kLinkDdeFailed = 29;
constexpr int kLinkDdeBusy = 30;
constexpr int kLinkNoAssociation = 31;
constexpr int kLinkLibraryNotFound = 32;

constexpr bool LinkOpened(int outcome) {
    return outcome > kLinkLastFailure;
}

// The report of a failed opening: "Can't open link:", a blank line, the text for the code.
QString LinkErrorText(int code);
QString LinkErrorMessage(int code);

// Splits a command text into words: blanks separate words; double and single quotes group
// (and are dropped); a backslash outside single quotes keeps the next character as it is.
// An unterminated quote runs to the end of the text.
QStringList SplitCommandLine(const QString& text);

// The browser command used when the desktop cannot open a link: $BROWSER when it is set and
// not blank, else "x-www-browser" when it is on the path; empty when there is neither.
QString BrowserCommandText();

// Builds the fallback command from a browser command text: the text is cut at its "%s"
// placeholder (the quoted form "%s" first, then '%s', then a bare %s; no placeholder keeps the
// whole text), split into program and arguments, and the target appended as one argument.
// Nothing when the text names no program.
std::optional<LaunchCommand> BrowserLaunchCommand(const QString& commandText, const QString& target);

// The failure code for an errno value of a failed start.
int LaunchErrorCode(int error);

// Starts a program detached from this process; the result as for kLinkOpened.
int LaunchDetached(const LaunchCommand& command);

// Starts the fallback command; AppServices' own is LaunchDetached, tests see the command without
// starting anything.
using LinkLauncher = std::function<int(const LaunchCommand& command)>;

// What the desktop is asked to open for a link's target: a web address as written, a file name
// as a file.
QUrl LinkUrl(const QString& target);

}  // namespace dravix
