// The checks before a run, on the command line: what TPostingChecks finds goes to standard
// error, each finding on a line of its own, before anything connects.

#include "app/TCommandLine.h"

#include "nntp/TIpGroupName.h"
#include "posting/TPostingChecks.h"

#include <QCommandLineParser>
#include <QFile>

namespace {
// The texts the command line has always used where the window's would point at a field.
QString CommandLineText(const TPostingFinding& finding) {
    using TKind = TPostingFinding::TKind;
    if (finding.Kind == TKind::NoSubject)
        return QStringLiteral("No subject: give --subject TEXT");
    if (finding.Kind == TKind::NoGroups)
        return QStringLiteral("No groups to post to: give --group NAME or --groups-file FILE");
    const QString text = QString::fromStdString(finding.Text);
    if (finding.Kind == TKind::BadAddress && finding.Text == TArticleComposer::MissingAddressText)
        return text + QStringLiteral(": give --from ADDRESS");
    return text;
}
} // namespace

std::unordered_set<std::string> TCommandLine::SavedServerList() const {
    QFile file(ListDir() + QStringLiteral("newsgrps.txt"));
    std::unordered_set<std::string> names;
    if (!file.open(QIODevice::ReadOnly))
        return names;
    const std::string text = file.readAll().toStdString();
    for (const std::string& line : TextLines(std::string(WithoutByteOrderMark(text))))
        if (const std::string_view name = ListFileName(line); IsGroupName(name))
            names.emplace(name);
    return names;
}

bool TCommandLine::ChecksPassed(const QCommandLineParser& parser, TNewsRequest& request) const {
    const std::unordered_set<std::string> serverList = SavedServerList();
    TPostingChecks::TKnownGroup knownGroup;
    if (!serverList.empty())
        knownGroup = [&serverList](const std::string& group) { return serverList.contains(group); };
    const std::vector<TPostingFinding> findings = TPostingChecks::Check(request, knownGroup);
    const bool strict = parser.isSet(QStringLiteral("strict"));
    bool passed = true;
    for (const TPostingFinding& finding : findings) {
        if (finding.IsError() || strict) {
            Error(CommandLineText(finding));
            passed = false;
        } else if (!FQuiet) {
            Error(QStringLiteral("warning: ") + CommandLineText(finding));
        }
    }
    request.Groups = TPostingChecks::WithoutRepeats(request.Groups);
    return passed;
}
