#pragma once

// `heraldix post` played through a FaultRelay against the real news server, resumed until it is
// done, and held against what the server stored: every group chosen holds exactly one article
// (found by a token in the Subject, not by Message-ID, so a second article under another
// Message-ID counts too), every outcome the program reported, in any of the runs, says what the
// server did, and the run that finishes reports every group (a resumed run those answered
// before the interruption too). A run that fails is resumed; one told there is nothing to resume
// is started again, as a user would.

#include "support/FaultRelay.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

class NewsServer;

struct TFaultPlay {
    std::vector<FaultRelay::TFault> Faults;
    int Connections = 1;
    // The program is killed (SIGKILL) the moment the first fault acts, then resumed.
    bool Kill = false;
    // Armed for the first resume; later resumes go unhindered.
    std::vector<FaultRelay::TFault> ResumeFaults;
    // Groups cross-posted in one article (the refusing group among them); 1 posts each apart.
    int GroupsPerArticle = 1;
};

// What went wrong in one play or many, counted per group.
struct TFaultTally {
    int Runs = 0;
    // Faults that acted, and kills, by kind.
    std::map<std::string, int> Faults;
    int Duplicates = 0;
    int Missing = 0;
    int FalseReports = 0;
    int Unreported = 0;
    int Hangs = 0;
    int Crashes = 0;
    // One line for each count above that is not 0.
    QStringList Problems;

    bool Clean() const { return Problems.isEmpty(); }
    int FaultsActed() const;
    TFaultTally& operator+=(const TFaultTally& other);
    QString Table() const;
};

class FaultRun {
public:
    // A group the server refuses (441): its outcome must be a refusal, and it holds nothing.
    static constexpr const char* RefusingGroup = "mod.test";
    // The client's reply timeout in the settings.
    static constexpr int TimeoutSeconds = 2;

    // `server` runs with at least the bulk groups the plays take; each play takes groups of its
    // own from the first on, so one play's articles never mix with another's.
    FaultRun(NewsServer& server, QString executable);

    // Plays over `openGroups` groups of their own and the refusing group.
    TFaultTally Play(const TFaultPlay& play, int openGroups);

    // A mix of one to three faults of any kind at any step over 1 to 8 connections; one play in
    // seven is killed, one in four meets a fault in its first resume too.
    static TFaultPlay RandomPlay(std::mt19937& random);
    // "cut reply", "swallowed verdict", "refused", ... as the table counts them.
    static std::string KindName(const FaultRelay::TFault& fault);
    // "cut reply at verdict byte 2"
    static QString Describe(const FaultRelay::TFault& fault);

private:
    struct TRun {
        int Exit = -1;
        bool Killed = false;
        bool Hung = false;
        bool Crashed = false;
        QByteArray Err;
        // The groups the run was for (a resume: those of the run it resumed), and each outcome
        // it printed: group and accepted.
        QStringList Groups;
        bool Resumed = false;
        std::vector<std::pair<QString, bool>> Reports;
    };
    // Runs the program to its end, or kills it once `killWhen` says so or it has hung.
    TRun RunProgram(const QStringList& arguments, const std::function<bool()>& killWhen = {});
    // The play's first run, then resumes until one ends. Told that nothing is left to resume
    // after a first run failed, it posts again to the groups no run has reported, as a user
    // would; after a resume failed, the groups not answered are lost.
    std::vector<TRun> RunUntilDone(FaultRelay& relay, const TFaultPlay& play,
                                   const QString& settings, const QStringList& groups);
    // Counts what the runs did wrong by the server's articles; says how each run ended.
    QString Judge(const std::vector<TRun>& runs, const QStringList& groups, const QString& subject,
                  TFaultTally& tally);

    NewsServer& FServer;
    QString FExecutable;
    QTemporaryDir FDir;
    int FPlays = 0;
    int FNextGroup = 1;
};
