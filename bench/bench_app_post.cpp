// Posting runs of the main window against the local news server, each next to Python's nntplib
// posting the same articles on one connection to the same server in the same run:
//   a 1 KB message to 200 groups, and a message with a 20 MB attachment to 3 groups,
// each in clear and over implicit TLS (nntplib's NNTP_SSL), with our TLS time over our clear
// time for the same work.
// Each figure runs from pressing Post (or connecting) to the server's verdict on the last
// article, connection set-up included on both sides; the median of the rounds counts. The short
// run has more rounds: on a busy machine a run of a tenth of a second varies more, for its
// length, than a run of seconds.

#include "bench_app_common.h"

#include <QFile>
#include <QRandomGenerator>

static constexpr int Groups = 200;

struct Scenario {
    const char* Name;
    std::vector<std::string> Groups;
    QString Attachment;
    int Rounds = 3;
    // The most our TLS run may take over our run in clear.
    double TlsGoal = 1.3;
};

// One run of the window: fields filled, Post pressed, until "Finished Posting".
// `authority` set: over TLS, trusting that authority.
static double WindowRun(NewsServer& server, const Scenario& scenario, const QStringList& body,
                        const QString& subject, const QString& authority, int& accepted) {
    TBenchWindow bench(authority.isEmpty() ? server.Host() : server.TlsHost());
    TfrmMain& window = *bench.Window;
    if (!authority.isEmpty()) {
        window.cbSecurity->setCurrentIndex(1);
        window.SetTrustedAuthorities(authority);
    }
    window.eAddress->setText(QStringLiteral("poster@example.com"));
    window.eSubject->setText(subject);
    window.dcMsgBody->SetLines(body);
    window.trcvToPost->Items().Assign(scenario.Groups);
    if (!scenario.Attachment.isEmpty())
        window.SetAttachmentPath(scenario.Attachment);
    // 200 separate copies draw the warning that offers a cross-post; the benchmark posts them.
    bench.Prompts->QueueChecksAnswer(TChecksAnswer::PostAnyway);
    const double seconds =
        bench.Time([&window] { window.spdPostClick(); }, [&window] { return window.Posting(); });
    if (bench.Prompts->Messages() != QStringList{"Finished Posting"})
        std::fprintf(stderr, "unexpected: %s\n", qPrintable(bench.Prompts->Messages().join(" | ")));
    accepted = window.PostsAccepted();
    return seconds;
}

int main(int argc, char** argv) {
    UseOffscreen();
    QApplication app(argc, argv);
    NewsServer server;
    if (!server.Start({"--fresh", "--tls", "--groups", QString::number(Groups)})) {
        std::fprintf(stderr, "news server: %s\n", server.Output().constData());
        return 1;
    }
    QTemporaryDir files;
    const QString authority = server.CertificatePath();

    const QStringList body = KilobyteBody();
    const QString bodyFile = files.filePath("body.txt");
    WriteBodyFile(bodyFile, body);
    // 20 MB of bytes no compression or encoding shortcut helps with.
    const QString attachment = files.filePath("attachment.bin");
    {
        QFile file(attachment);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, '\0');
        for (int mb = 0; mb < 20; ++mb) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                                  block.size() / 4);
            file.write(block);
        }
    }

    Scenario small{"1 KB message to 200 groups", BulkGroupNames(Groups), {}, 9, 1.15};
    Scenario large{
        "20 MB attachment to 3 groups", {"alt.test", "misc.test", "rec.arts.books"}, attachment, 3};

    int status = 0;
    // An argument picks one scenario: "small" or "large".
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    for (const Scenario* picked : {&small, &large}) {
        const Scenario& scenario = *picked;
        if (!only.isEmpty() && only != (picked == &small ? "small" : "large"))
            continue;
        // [0] in clear, [1] over TLS.
        std::vector<double> ours[2];
        std::vector<double> theirs[2];
        long pythonPeak = 0;
        for (int round = 0; round < scenario.Rounds; ++round) {
            for (const int tls : {0, 1}) {
                const QString subject =
                    QStringLiteral("bench %1 %2 %3").arg(scenario.Name).arg(round).arg(tls);
                int accepted = 0;
                ours[tls].push_back(WindowRun(server, scenario, body, subject,
                                              tls ? authority : QString(), accepted));
                const uint16_t port =
                    tls ? uint16_t(server.TlsHost().section(':', 1).toUInt()) : server.Port();
                QStringList arguments{"post", QString::number(port), subject + " nntplib",
                                      bodyFile};
                for (const std::string& group : scenario.Groups)
                    arguments << QString::fromStdString(group);
                if (!scenario.Attachment.isEmpty())
                    arguments << "--attach" << scenario.Attachment;
                if (tls)
                    arguments << "--tls" << authority;
                const QJsonObject baseline = RunNntplib(arguments);
                theirs[tls].push_back(baseline.value("seconds").toDouble());
                pythonPeak =
                    std::max(pythonPeak, static_cast<long>(baseline.value("peak_kib").toInt()));
                const int expected = static_cast<int>(scenario.Groups.size());
                if (accepted != expected || baseline.value("accepted").toInt() != expected) {
                    std::fprintf(stderr, "%s%s: accepted heraldix %d, nntplib %d of %d\n",
                                 scenario.Name, tls ? " over TLS" : "", accepted,
                                 baseline.value("accepted").toInt(), expected);
                    status = 1;
                }
            }
        }
        PrintRatio(scenario.Name, Median(ours[0]), Median(theirs[0]), "<= 1.0");
        PrintRatio(" ... over TLS", Median(ours[1]), Median(theirs[1]), "<= 1.0");
        std::printf("%-44s heraldix TLS %8.3f s   clear %8.3f s   ratio %.2f (goal <= %.2f)\n",
                    " ... TLS over clear", Median(ours[1]), Median(ours[0]),
                    Median(ours[0]) > 0 ? Median(ours[1]) / Median(ours[0]) : 0.0,
                    scenario.TlsGoal);
        std::printf("%-44s peak memory heraldix %ld KiB, nntplib %ld KiB\n", "", PeakKiB(),
                    pythonPeak);
    }
    return status;
}
