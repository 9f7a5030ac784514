// Drive image jobs through vaultora-cli, in real processes: new --image, backup, points and
// restore of each version to a file, byte-identical.

#include "TImageFixture.h"

#include <QTemporaryDir>
#include <QTest>

class tst_DriveImageCli : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;

    QString Path(const QString& name) const { return m_dir.filePath(name); }
    TToolRun Cli(const QStringList& args) const {
        return RunProgram(QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-cli"),
                          QStringList{QStringLiteral("--data-dir"), Path(QStringLiteral("data"))} + args,
                          m_environment);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QString missing = MissingFilesystemTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs e2fsprogs (missing: %1)").arg(missing)));
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("HOME"), Path(QStringLiteral("home")));
        QDir().mkpath(Path(QStringLiteral("runtime")));
        m_environment.insert(QStringLiteral("VAULTORA_IMAGETOOL_RUNTIME_DIR"), Path(QStringLiteral("runtime")));
        m_environment.insert(QStringLiteral("VAULTORA_TEST_NO_SYNC"), QStringLiteral("1"));
        QDir().mkpath(Path(QStringLiteral("dest")));
    }

    void newBackupPointsRestore() {
        const QString volume = Path(QStringLiteral("volume.img"));
        QVERIFY(MakeVolume(volume, m_dir.path(), 16, 201));
        const QByteArray first = Sha256OfFile(volume);

        // Refusals first: a volume that is none of the three kinds, a share, no number of versions.
        QCOMPARE(Cli({QStringLiteral("new"), QStringLiteral("Bad"), QStringLiteral("--image"),
                      Path(QStringLiteral("nope")), QStringLiteral("--to"), Path(QStringLiteral("dest"))})
                     .Exit,
                 64);
        QCOMPARE(Cli({QStringLiteral("new"), QStringLiteral("Bad"), QStringLiteral("--image"), volume,
                      QStringLiteral("--to"), QStringLiteral("smb://nas/share")})
                     .Exit,
                 64);
        QCOMPARE(Cli({QStringLiteral("new"), QStringLiteral("Bad"), QStringLiteral("--image"), volume,
                      QStringLiteral("--to"), Path(QStringLiteral("dest")), QStringLiteral("--keep-versions"),
                      QStringLiteral("0")})
                     .Exit,
                 64);

        const TToolRun created = Cli({QStringLiteral("new"), QStringLiteral("Disk"), QStringLiteral("--image"), volume,
                                      QStringLiteral("--to"), Path(QStringLiteral("dest")),
                                      QStringLiteral("--keep-versions"), QStringLiteral("2")});
        QVERIFY2(created.Exit == 0, qPrintable(created.Output));
        const TToolRun one = Cli({QStringLiteral("backup"), QStringLiteral("Disk")});
        QVERIFY2(one.Exit == 0, qPrintable(one.Output));
        QVERIFY(one.Output.contains(QStringLiteral("Drive image backup \"Disk\" is finished.")));
        QVERIFY(PutFileIntoVolume(volume, QStringLiteral("n.bin"), RandomBytes(80000, 202), m_dir.path()));
        const QByteArray second = Sha256OfFile(volume);
        QVERIFY(Cli({QStringLiteral("backup"), QStringLiteral("Disk")}).Exit == 0);
        QVERIFY(PutFileIntoVolume(volume, QStringLiteral("m.bin"), RandomBytes(80000, 203), m_dir.path()));
        QVERIFY(Cli({QStringLiteral("backup"), QStringLiteral("Disk")}).Exit == 0);

        // Two versions kept, each listed with its volume.
        const TToolRun points = Cli({QStringLiteral("points"), QStringLiteral("Disk")});
        QVERIFY2(points.Exit == 0, qPrintable(points.Output));
        const QStringList lines = points.Output.trimmed().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).section(u'\t', 1), volume);
        const QString older = lines.at(0).section(u'\t', 0, 0);

        const QString output = Path(QStringLiteral("restored.img"));
        const TToolRun restored = Cli({QStringLiteral("restore"), QStringLiteral("Disk"), QStringLiteral("--version"),
                                       older, QStringLiteral("--to"), output});
        QVERIFY2(restored.Exit == 0, qPrintable(restored.Output));
        QCOMPARE(Sha256OfFile(output), second);
        QVERIFY(second != first);
        QVERIFY(FsckClean(output));
        // A version that does not exist is an error, and the file stays as it was.
        const TToolRun missing = Cli({QStringLiteral("restore"), QStringLiteral("Disk"), QStringLiteral("--version"),
                                      QStringLiteral("19990101-000000"), QStringLiteral("--to"), output});
        QCOMPARE(missing.Exit, 2);
        QCOMPARE(Sha256OfFile(output), second);
        // Without --version: the latest.
        const TToolRun latest =
            Cli({QStringLiteral("restore"), QStringLiteral("Disk"), QStringLiteral("--to"), output});
        QVERIFY2(latest.Exit == 0, qPrintable(latest.Output));
        QCOMPARE(Sha256OfFile(output), Sha256OfFile(volume));
        const TToolRun removed =
            Cli({QStringLiteral("remove"), QStringLiteral("Disk"), QStringLiteral("--with-backup")});
        QVERIFY2(removed.Exit == 0, qPrintable(removed.Output));
        QVERIFY(!QFileInfo::exists(Path(QStringLiteral("dest/Disk"))));
    }
};

QTEST_GUILESS_MAIN(tst_DriveImageCli)
#include "tst_DriveImageCli.moc"
