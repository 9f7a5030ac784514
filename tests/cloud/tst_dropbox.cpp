// The Dropbox client against the stand-in server: listing pages, folders, delete, rename, upload
// sessions and their offset errors, 409 texts, expired access tokens, busy answers, size limits,
// progress and cancel, and names with quotes, backslashes and Unicode.
#include "TDropboxStandIn.h"

#include "cloud/TDropbox.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray Pattern(qsizetype size, int seed = 1) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed * 7 + i / 997) % 256);
    return data;
}

} // namespace

class tst_Dropbox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void listingAllPagesSorted();
    void listingErrorIsNotAnEmptyFolder();
    void namesWithQuotesBackslashesUnicode();
    void uploadSessionChunks_data();
    void uploadSessionChunks();
    void droppedConnectionThenResumedSession();
    void lostAnswerResumesAtCorrectOffset();
    void keptSessionGoesOnOnlyWithTheSameBytes();
    void sessionNotFoundOrClosedIsForgotten_data();
    void sessionNotFoundOrClosedIsForgotten();
    void conflictTexts_data();
    void conflictTexts();
    void renameKeepsFolder();
    void expiredAccessTokenRenewedOnce();
    void revokedRefreshTokenFails();
    void busyAnswerWaitsRetryAfter();
    void busyAnswerBeyondLimitFails();
    void sizeLimitsRefusedBeforeAnyRequest();
    void downloadCancelledFromProgress();
    void uploadProgressCoversWholeFile();

private:
    TDropbox Client();
    QBuffer* Buffer(const QByteArray& data);

    TDropboxStandIn FServer;
    QString FRefresh;
    QTemporaryDir FWork;
    QList<int> FSleeps;
    std::vector<std::unique_ptr<QBuffer>> FBuffers;
};

void tst_Dropbox::initTestCase() {
    QVERIFY2(FServer.Start(3), qPrintable(FServer.Output()));
}

void tst_Dropbox::init() {
    FServer.Control(u"reset"_s);
    FRefresh = FServer.NewRefreshToken();
    FSleeps.clear();
}

TDropbox tst_Dropbox::Client() {
    TDropbox client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.SetRefreshToken(FRefresh);
    client.Sleep = [this](int seconds) { FSleeps.append(seconds); };
    return client;
}

QBuffer* tst_Dropbox::Buffer(const QByteArray& data) {
    FBuffers.push_back(std::make_unique<QBuffer>());
    FBuffers.back()->setData(data);
    FBuffers.back()->open(QIODevice::ReadOnly);
    return FBuffers.back().get();
}

void tst_Dropbox::listingAllPagesSorted() {
    TDropbox client = Client();
    QVERIFY2(client.CreateFolder(u"/Top"_s), qPrintable(client.ErrorText()));
    for (const QString& name : {u"b.txt"_s, u"A.txt"_s, u"c.txt"_s, u"D.txt"_s})
        QVERIFY2(client.Upload(*Buffer(name.toUtf8()), u"/Top/"_s + name), qPrintable(client.ErrorText()));
    for (const QString& name : {u"zeta"_s, u"Alpha"_s, u"mid"_s})
        QVERIFY(client.CreateFolder(u"/Top/"_s + name));
    QList<TDFileInfo> entries;
    FServer.ClearCalls();
    QVERIFY2(client.ListFolder(u"/Top"_s, entries), qPrintable(client.ErrorText()));
    QStringList names;
    for (const TDFileInfo& entry : entries)
        names.append(entry.Name + (entry.IsDir ? u"/"_s : QString()));
    QCOMPARE(names, (QStringList{u"Alpha/"_s, u"mid/"_s, u"zeta/"_s, u"A.txt"_s, u"b.txt"_s, u"c.txt"_s, u"D.txt"_s}));
    // Seven entries in pages of three: one listing and two continuations.
    QCOMPARE(FServer.Calls(), (QStringList{u"/files/list_folder"_s, u"/files/list_folder/continue"_s,
                                           u"/files/list_folder/continue"_s}));
    QCOMPARE(entries.last().Size, uint64_t(5));
    QVERIFY(entries.last().Modified.isValid());

    QVERIFY(client.ListFolder(u"/"_s, entries));
    QCOMPARE(entries.size(), 1);
    QVERIFY(client.ListFolder(u"/Top/mid"_s, entries));
    QVERIFY(entries.isEmpty());
}

void tst_Dropbox::listingErrorIsNotAnEmptyFolder() {
    TDropbox client = Client();
    QList<TDFileInfo> entries;
    QVERIFY(!client.ListFolder(u"/missing"_s, entries));
    QCOMPARE(client.ErrorText(), u"path/not_found/.."_s);
}

void tst_Dropbox::namesWithQuotesBackslashesUnicode() {
    TDropbox client = Client();
    const QString folder = u"/Q \"quoted\" \\ back"_s;
    const QString file = folder + u"/ä ö 😀 \"x\" \\y {\"path\":\"evil\"}.bin"_s;
    QVERIFY2(client.CreateFolder(folder), qPrintable(client.ErrorText()));
    const QByteArray data = Pattern(5000);
    TDFileInfo info;
    QVERIFY2(client.UploadInSession(*Buffer(data), file, 2048, &info), qPrintable(client.ErrorText()));
    QCOMPARE(info.PathDisplay, file);
    QVERIFY2(client.Upload(*Buffer("small"), folder + u"/ünïcode \"2\".txt"_s), qPrintable(client.ErrorText()));
    const QJsonObject files = FServer.State().value(u"files"_s).toObject();
    QCOMPARE(files.value(file).toInt(), 5000);
    QCOMPARE(files.size(), 2);
    QBuffer back;
    back.open(QIODevice::ReadWrite);
    QVERIFY2(client.DownloadByPathName(file, back), qPrintable(client.ErrorText()));
    QCOMPARE(back.data(), data);
    QList<TDFileInfo> entries;
    QVERIFY(client.ListFolder(folder, entries));
    QCOMPARE(entries.size(), 2);
    QVERIFY2(client.RenameByPathName(file, u"new \"name\" \\ é.bin"_s), qPrintable(client.ErrorText()));
    QVERIFY2(client.DeleteByPathName(folder + u"/new \"name\" \\ é.bin"_s), qPrintable(client.ErrorText()));
}

void tst_Dropbox::uploadSessionChunks_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QStringList>("calls");
    const QString start = u"/files/upload_session/start"_s, append = u"/files/upload_session/append_v2"_s,
                  finish = u"/files/upload_session/finish"_s;
    QTest::newRow("empty file: one upload") << 0 << 4096 << QStringList{u"/files/upload"_s};
    QTest::newRow("below a chunk") << 100 << 4096 << QStringList{start, finish};
    QTest::newRow("exactly a chunk") << 4096 << 4096 << QStringList{start, finish};
    QTest::newRow("a byte more") << 4097 << 4096 << QStringList{start, append, finish};
    QTest::newRow("three chunks") << 3 * 4096 << 4096 << QStringList{start, append, append, finish};
}

void tst_Dropbox::uploadSessionChunks() {
    QFETCH(int, size);
    QFETCH(int, chunk);
    QFETCH(QStringList, calls);
    TDropbox client = Client();
    QVERIFY(client.Authorize());
    FServer.ClearCalls();
    const QByteArray data = Pattern(size);
    QVERIFY2(client.UploadInSession(*Buffer(data), u"/up/file.bin"_s, chunk), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Calls(), calls);
    QCOMPARE(FServer.File(u"/up/file.bin"_s), data);
    QVERIFY(client.SessionUploads().isEmpty());
}

void tst_Dropbox::droppedConnectionThenResumedSession() {
    // The connection breaks in the middle of the second chunk: the upload fails, the session
    // stays known, and the next upload of the same path asks where it stands and goes on there.
    TDropbox client = Client();
    const QByteArray data = Pattern(5 * 1024 * 1024, 3);
    FServer.Fault(QJsonObject{{u"kind"_s, u"drop_upload"_s}, {u"count"_s, 1}, {u"skip"_s, 1}, {u"after"_s, 100000}});
    QBuffer* stream = Buffer(data);
    QVERIFY(!client.UploadInSession(*stream, u"/big.bin"_s, 2 * 1024 * 1024));
    QVERIFY(!client.ErrorText().isEmpty());
    QVERIFY(!client.WasCancelled());
    QCOMPARE(client.SessionUploads().size(), 1);
    bool ok = false;
    FServer.File(u"/big.bin"_s, &ok);
    QVERIFY(!ok);
    FServer.ClearCalls();
    QVERIFY2(client.UploadInSession(*stream, u"/big.bin"_s, 2 * 1024 * 1024), qPrintable(client.ErrorText()));
    const QString append = u"/files/upload_session/append_v2"_s;
    // The empty probe (answered incorrect_offset), the rest in two appends, then the finish.
    QCOMPARE(FServer.Calls(), (QStringList{append, append, append, u"/files/upload_session/finish"_s}));
    const QByteArray stored = FServer.File(u"/big.bin"_s);
    QCOMPARE(stored.size(), data.size());
    QVERIFY(stored == data);
    QVERIFY(client.SessionUploads().isEmpty());
}

void tst_Dropbox::lostAnswerResumesAtCorrectOffset() {
    // The service stored a chunk but its answer was lost: resuming must not send that chunk twice.
    TDropbox client = Client();
    const QByteArray data = Pattern(10000, 4);
    FServer.Fault(QJsonObject{{u"kind"_s, u"lose_answer"_s}, {u"count"_s, 1}, {u"skip"_s, 1}});
    QBuffer* stream = Buffer(data);
    QVERIFY(!client.UploadInSession(*stream, u"/lost.bin"_s, 4000));
    QVERIFY2(client.UploadInSession(*stream, u"/lost.bin"_s, 4000), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/lost.bin"_s), data);
}

void tst_Dropbox::keptSessionGoesOnOnlyWithTheSameBytes() {
    // An upload broken off mid-session, then other bytes of the same size for the same path: a
    // new session, never the old one's first pieces with the new one's rest.
    TDropbox client = Client();
    const QByteArray first = Pattern(9000, 5), second = Pattern(9000, 7);
    FServer.Fault(QJsonObject{{u"kind"_s, u"drop_upload"_s}, {u"count"_s, 1}, {u"skip"_s, 1}, {u"after"_s, 10}});
    QVERIFY(!client.UploadInSession(*Buffer(first), u"/s.bin"_s, 4000));
    QCOMPARE(client.SessionUploads().size(), 1);
    QVERIFY2(client.UploadInSession(*Buffer(second), u"/s.bin"_s, 4000), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/s.bin"_s), second);
}

void tst_Dropbox::sessionNotFoundOrClosedIsForgotten_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::newRow("not found") << u"drop"_s << u"not_found/.."_s;
    QTest::newRow("closed") << u"close"_s << u"closed/.."_s;
}

void tst_Dropbox::sessionNotFoundOrClosedIsForgotten() {
    QFETCH(QString, action);
    QFETCH(QString, text);
    TDropbox client = Client();
    const QByteArray data = Pattern(9000, 5);
    FServer.Fault(QJsonObject{{u"kind"_s, u"drop_upload"_s}, {u"count"_s, 1}, {u"skip"_s, 1}, {u"after"_s, 10}});
    QBuffer* stream = Buffer(data);
    QVERIFY(!client.UploadInSession(*stream, u"/s.bin"_s, 4000));
    QCOMPARE(client.SessionUploads().size(), 1);
    FServer.Control(u"sessions"_s, QJsonObject{{u"action"_s, action}});
    // Reported once, with the service's text, and forgotten ...
    QVERIFY(!client.UploadInSession(*stream, u"/s.bin"_s, 4000));
    QCOMPARE(client.ErrorText(), text);
    QVERIFY(client.SessionUploads().isEmpty());
    // ... so the next attempt starts a new session.
    QVERIFY2(client.UploadInSession(*stream, u"/s.bin"_s, 4000), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/s.bin"_s), data);
}

void tst_Dropbox::conflictTexts_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("text");
    QTest::newRow("delete missing") << u"delete"_s << u"path_lookup/not_found/.."_s;
    QTest::newRow("create existing folder") << u"create"_s << u"path/conflict/folder/.."_s;
    QTest::newRow("rename onto a file") << u"rename"_s << u"to/conflict/file/.."_s;
    QTest::newRow("download missing") << u"download"_s << u"path/not_found/.."_s;
    QTest::newRow("rename missing") << u"rename missing"_s << u"from_lookup/not_found/.."_s;
}

void tst_Dropbox::conflictTexts() {
    QFETCH(QString, operation);
    QFETCH(QString, text);
    TDropbox client = Client();
    QVERIFY(client.CreateFolder(u"/f"_s));
    QVERIFY(client.Upload(*Buffer("1"), u"/f/one"_s));
    QVERIFY(client.Upload(*Buffer("2"), u"/f/two"_s));
    bool done = true;
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    if (operation == u"delete")
        done = client.DeleteByPathName(u"/f/none"_s);
    else if (operation == u"create")
        done = client.CreateFolder(u"/f"_s);
    else if (operation == u"rename")
        done = client.RenameByPathName(u"/f/one"_s, u"two"_s);
    else if (operation == u"rename missing")
        done = client.RenameByPathName(u"/f/none"_s, u"three"_s);
    else
        done = client.DownloadByPathName(u"/f/none"_s, sink);
    QVERIFY(!done);
    QCOMPARE(client.ErrorText(), text);
    QCOMPARE(FServer.File(u"/f/one"_s), QByteArray("1"));
}

void tst_Dropbox::renameKeepsFolder() {
    TDropbox client = Client();
    QVERIFY(client.Upload(*Buffer("x"), u"/a/b/c.txt"_s));
    TDFileInfo info;
    QVERIFY2(client.RenameByPathName(u"/a/b"_s, u"/ignored/B2"_s, &info), qPrintable(client.ErrorText()));
    QCOMPARE(info.PathDisplay, u"/a/B2"_s);
    QCOMPARE(FServer.File(u"/a/B2/c.txt"_s), QByteArray("x"));
}

void tst_Dropbox::expiredAccessTokenRenewedOnce() {
    TDropbox client = Client();
    QVERIFY(client.CreateFolder(u"/e"_s));
    FServer.ClearCalls();
    FServer.Fault(QJsonObject{{u"kind"_s, u"expire"_s}, {u"count"_s, 1}});
    QVERIFY2(client.Upload(*Buffer("payload"), u"/e/x"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Calls(), (QStringList{u"/files/upload"_s, u"token:refresh_token"_s, u"/files/upload"_s}));
    QCOMPARE(FServer.File(u"/e/x"_s), QByteArray("payload"));
    // A second refusal within one operation is an error.
    FServer.Fault(QJsonObject{{u"kind"_s, u"expire"_s}, {u"count"_s, 2}});
    QVERIFY(!client.CreateFolder(u"/e2"_s));
    QVERIFY2(client.ErrorText().startsWith(u"HTTP error 401"_s), qPrintable(client.ErrorText()));
    QVERIFY(!client.ErrorText().contains(u"access-"_s));
}

void tst_Dropbox::revokedRefreshTokenFails() {
    TDropbox client = Client();
    FServer.Control(u"revoke"_s);
    QVERIFY(!client.CreateFolder(u"/r"_s));
    QCOMPARE(client.ErrorText(), u"HTTP 400: invalid_grant (refresh token is invalid or revoked)"_s);
    QVERIFY(!client.ErrorText().contains(FRefresh));
}

void tst_Dropbox::busyAnswerWaitsRetryAfter() {
    TDropbox client = Client();
    QVERIFY(client.Authorize());
    FServer.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 2}, {u"retry_after"_s, 7}});
    QVERIFY2(client.CreateFolder(u"/busy"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FSleeps, (QList<int>{7, 7}));
}

void tst_Dropbox::busyAnswerBeyondLimitFails() {
    TDropbox client = Client();
    client.MaxBusyRetries = 2;
    FServer.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 1}, {u"retry_after"_s, 3600}});
    QVERIFY(!client.CreateFolder(u"/busy"_s));
    QVERIFY2(client.ErrorText().startsWith(u"HTTP error 429"_s), qPrintable(client.ErrorText()));
    QVERIFY(FSleeps.isEmpty());
    // More busy answers than retries: the last one is the error.
    FServer.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 3}, {u"retry_after"_s, 1}});
    QVERIFY(!client.CreateFolder(u"/busy"_s));
    QCOMPARE(FSleeps, (QList<int>{1, 1}));
}

void tst_Dropbox::sizeLimitsRefusedBeforeAnyRequest() {
    TDropbox client = Client();
    FServer.ClearCalls();
    QVERIFY(!client.UploadInSession(*Buffer("x"), u"/l"_s, 157286400));
    QCOMPARE(client.ErrorText(), u"Dropbox API does not allow chunks larger than 150MB"_s);
    // A sparse file of exactly 150 MiB: one request may carry one byte less.
    QFile big(FWork.filePath(u"big"_s));
    QVERIFY(big.open(QIODevice::ReadWrite));
    QVERIFY(big.resize(157286400));
    QVERIFY(!client.Upload(big, u"/l"_s));
    QCOMPARE(client.ErrorText(), u"Dropbox API does not allow to upload files larger than 150MB"_s);
    QVERIFY(FServer.Calls().isEmpty());
}

void tst_Dropbox::downloadCancelledFromProgress() {
    TDropbox client = Client();
    const QByteArray data = Pattern(6 * 1024 * 1024, 6);
    QVERIFY2(client.UploadInSession(*Buffer(data), u"/d.bin"_s, TDropbox::DefaultChunkSize),
             qPrintable(client.ErrorText()));
    client.OnDownloadProgress = [](int64_t done, int64_t) { return done < 1024 * 1024; };
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    QVERIFY(!client.DownloadByPathName(u"/d.bin"_s, sink));
    QCOMPARE(client.ErrorText(), u"Cancelled"_s);
    QVERIFY(client.WasCancelled());
    QVERIFY(sink.data().size() < data.size());
    QVERIFY(data.startsWith(sink.data()));
}

void tst_Dropbox::uploadProgressCoversWholeFile() {
    TDropbox client = Client();
    const QByteArray data = Pattern(3 * 1024 * 1024 + 5, 7);
    int64_t last = 0, total = 0;
    bool backwards = false;
    client.OnUploadProgress = [&](int64_t done, int64_t all) {
        backwards = backwards || done < last;
        last = done;
        total = all;
        return true;
    };
    QVERIFY2(client.UploadInSession(*Buffer(data), u"/p.bin"_s, 1024 * 1024), qPrintable(client.ErrorText()));
    QCOMPARE(total, int64_t(data.size()));
    QCOMPARE(last, int64_t(data.size()));
    QVERIFY(!backwards);
    // Cancelling from the upload progress stops the upload and stores nothing.
    client.OnUploadProgress = [](int64_t done, int64_t) { return done < 1024 * 1024 + 10; };
    QVERIFY(!client.UploadInSession(*Buffer(data), u"/p2.bin"_s, 1024 * 1024));
    QCOMPARE(client.ErrorText(), u"Cancelled"_s);
    bool ok = true;
    FServer.File(u"/p2.bin"_s, &ok);
    QVERIFY(!ok);
}

QTEST_GUILESS_MAIN(tst_Dropbox)
#include "tst_dropbox.moc"
