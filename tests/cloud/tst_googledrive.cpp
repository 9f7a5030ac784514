// The Google Drive client against the stand-in server: paged listings without trashed items, the
// path table (walked once, items made elsewhere found, repeated names), folders, rename, move,
// delete, resumable uploads in pieces (interrupted, answer lost, expired session, busy piece,
// changed content), refused and expired tokens, busy answers, content types, names with quotes,
// backslashes, Unicode and control characters, progress and cancel, and the sign-in.
#include "TGoogleDriveStandIn.h"

#include "cloud/TGoogleDrive.h"
#include "cloud/TLoopbackCodeListener.h"
#include "core/settings/TAppGlobals.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

QByteArray Pattern(qsizetype size, int seed = 1) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed * 7 + i / 997) % 256);
    return data;
}

constexpr int Piece = int(TGoogleDrive::ChunkGranularity);

} // namespace

class tst_GoogleDrive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void listingAllPagesSortedWithoutTrash();
    void pathsWalkedOnceAndMissesLookedUp();
    void repeatedNamesPickOneAndUploadReplacesAll();
    void deleteRemovesEveryItemOfTheName();
    void makeFolderParentsExistingAndFileInTheWay();
    void folderDeletedElsewhereIsForgotten();
    void renameNeverReplacesAndMoveChangesParent();
    void removeDetachesASharedItem();
    void uploadPieces_data();
    void uploadPieces();
    void interruptedUploadResumes_data();
    void interruptedUploadResumes();
    void expiredSessionStartsOver();
    void changedFileStartsANewSession();
    void busyPieceAsksWhereTheSessionStands();
    void refusedTokenRenewedOnce_data();
    void refusedTokenRenewedOnce();
    void refreshRefusedOrUnreachable();
    void busyAnswersWaited_data();
    void busyAnswersWaited();
    void contentTypes_data();
    void contentTypes();
    void awkwardNamesRoundTrip();
    void cancelFromProgress();
    void loopbackSignIn();
    void pastedCodeAndHandlerResults();
    void factoryMakesTheJobClient();

private:
    TGoogleDrive Client();
    QBuffer* Buffer(const QByteArray& data);
    QStringList ApiCalls();

    TGoogleDriveStandIn FServer;
    QString FRefresh;
    QTemporaryDir FWork;
    QList<int> FSleeps;
    std::vector<std::unique_ptr<QBuffer>> FBuffers;
};

void tst_GoogleDrive::initTestCase() {
    QVERIFY2(FServer.Start(3), qPrintable(FServer.Output()));
}

void tst_GoogleDrive::init() {
    FServer.Control(u"reset"_s);
    FRefresh = FServer.NewRefreshToken();
    FSleeps.clear();
}

TGoogleDrive tst_GoogleDrive::Client() {
    TGoogleDrive client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.ClientSecret = u"test-secret"_s;
    client.SetScope(TGoogleDrive::JobScopes());
    client.SetRefreshToken(FRefresh);
    client.Sleep = [this](int seconds) { FSleeps.append(seconds); };
    return client;
}

QBuffer* tst_GoogleDrive::Buffer(const QByteArray& data) {
    FBuffers.push_back(std::make_unique<QBuffer>());
    FBuffers.back()->setData(data);
    FBuffers.back()->open(QIODevice::ReadOnly);
    return FBuffers.back().get();
}

// The calls after the sign-in.
QStringList tst_GoogleDrive::ApiCalls() {
    QStringList calls = FServer.Calls();
    calls.removeAll(u"token:refresh_token"_s);
    return calls;
}

void tst_GoogleDrive::listingAllPagesSortedWithoutTrash() {
    TGoogleDrive client = Client();
    for (const QString& name : {u"b.txt"_s, u"A.txt"_s, u"c.txt"_s, u"D.txt"_s})
        FServer.Put(u"/Top/"_s + name, name.toUtf8());
    for (const QString& name : {u"zeta"_s, u"Alpha"_s, u"mid"_s})
        FServer.Put(u"/Top/"_s + name, {}, true);
    FServer.Put(u"/Top/binned.txt"_s, "x", false, QJsonObject{{u"trashed"_s, true}});
    QList<TCloudItem> items;
    QVERIFY2(client.ListItems(u"/Top"_s, items), qPrintable(client.ErrorText()));
    QStringList names;
    for (const TCloudItem& item : items)
        names.append(item.Name + (item.IsDir ? u"/"_s : QString()));
    QCOMPARE(names, (QStringList{u"Alpha/"_s, u"mid/"_s, u"zeta/"_s, u"A.txt"_s, u"b.txt"_s, u"c.txt"_s, u"D.txt"_s}));
    QCOMPARE(items.last().Size, uint64_t(5));
    QVERIFY(items.last().Modified.isValid());
    // The root (one page) and /Top: seven items in pages of three.
    QCOMPARE(ApiCalls(), (QStringList{u"list"_s, u"list"_s, u"list"_s, u"list"_s}));

    // By id: the root's items carry "root" as the folder they were found through.
    QList<TGDFileInfo> top;
    QVERIFY(client.FindAll(QString(), top));
    QCOMPARE(top.size(), 1);
    QCOMPARE(top.first().ParentID, u"root"_s);
    QVERIFY(top.first().IsDir());

    QVERIFY(!client.ListItems(u"/missing"_s, items));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
}

void tst_GoogleDrive::pathsWalkedOnceAndMissesLookedUp() {
    FServer.Put(u"/a/b/c/file.txt"_s, "content");
    FServer.Put(u"/a/other/x"_s, "x");
    TGoogleDrive client = Client();
    QVERIFY(client.Authorize());
    FServer.ClearCalls();
    TCloudItem item;
    QVERIFY2(client.StatItem(u"/a/b/c/file.txt"_s, item), qPrintable(client.ErrorText()));
    QCOMPARE(item.Size, uint64_t(7));
    // One listing per folder on the way, none beside it.
    QCOMPARE(ApiCalls(), (QStringList{u"list"_s, u"list"_s, u"list"_s, u"list"_s}));
    FServer.ClearCalls();
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    QVERIFY2(client.DownloadFile(u"/a/b/c/file.txt"_s, sink), qPrintable(client.ErrorText()));
    QCOMPARE(sink.data(), QByteArray("content"));
    QCOMPARE(ApiCalls(), QStringList{u"media"_s});

    // Made by someone else after the folder was listed: found by its name.
    FServer.Put(u"/a/b/c/later.txt"_s, "later");
    FServer.ClearCalls();
    QVERIFY2(client.DownloadFile(u"/a/b/c/later.txt"_s, sink), qPrintable(client.ErrorText()));
    QCOMPARE(sink.data(), QByteArray("later"));
    QCOMPARE(ApiCalls(), (QStringList{u"list"_s, u"media"_s}));

    // Missing: looked up once, then reported as missing.
    FServer.ClearCalls();
    QVERIFY(!client.DownloadFile(u"/a/b/c/none.txt"_s, sink));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
    QCOMPARE(ApiCalls(), QStringList{u"list"_s});
    QVERIFY(!client.UploadFile(*Buffer("x"), u"/a/nowhere/file"_s, Piece));
    QVERIFY2(client.ErrorText() == u"The directory does not exist: /a/nowhere"_s, qPrintable(client.ErrorText()));
}

void tst_GoogleDrive::repeatedNamesPickOneAndUploadReplacesAll() {
    // Two files of one name: the path names the one stored last.
    FServer.Put(u"/d/same.txt"_s, "older");
    FServer.Put(u"/d/same.txt"_s, "newer");
    // Two folders of one name: the path names the one made first.
    FServer.Put(u"/d/dir/first.txt"_s, "first");
    const QString second = FServer.Put(u"/d/dir"_s, {}, true);
    QVERIFY(!second.isEmpty());
    TGoogleDrive client = Client();
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    QVERIFY2(client.DownloadFile(u"/d/same.txt"_s, sink), qPrintable(client.ErrorText()));
    QCOMPARE(sink.data(), QByteArray("newer"));
    QList<TCloudItem> items;
    QVERIFY(client.ListItems(u"/d/dir"_s, items));
    QCOMPARE(items.size(), 1);
    QVERIFY(client.ListItems(u"/d"_s, items));
    QCOMPARE(items.size(), 2); // one per name

    // An upload leaves exactly one file of its name, with the new content.
    QVERIFY2(client.UploadFile(*Buffer("newest"), u"/d/same.txt"_s, Piece), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Count(u"/d/same.txt"_s), 1);
    QCOMPARE(FServer.File(u"/d/same.txt"_s), QByteArray("newest"));
    QVERIFY(client.DownloadFile(u"/d/same.txt"_s, sink));
    QCOMPARE(sink.data(), QByteArray("newest"));
}

void tst_GoogleDrive::deleteRemovesEveryItemOfTheName() {
    FServer.Put(u"/del/f.txt"_s, "1");
    FServer.Put(u"/del/f.txt"_s, "2");
    FServer.Put(u"/del/tree/a/b.txt"_s, "b");
    FServer.Put(u"/del/tree"_s, {}, true);
    TGoogleDrive client = Client();
    QVERIFY2(client.DeleteItem(u"/del/f.txt"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Count(u"/del/f.txt"_s), 0);
    QVERIFY2(client.DeleteItem(u"/del/tree"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Count(u"/del/tree"_s), 0);
    QVERIFY(FServer.Tree().keys() == QStringList{u"/del"_s});
    QVERIFY(!client.DeleteItem(u"/del/tree"_s));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
    TCloudItem item;
    QVERIFY(!client.StatItem(u"/del/tree/a/b.txt"_s, item));
}

void tst_GoogleDrive::makeFolderParentsExistingAndFileInTheWay() {
    TGoogleDrive client = Client();
    QVERIFY2(client.MakeFolder(u"/job/2024-01-01 Full/sub"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Tree().value(u"/job/2024-01-01 Full/sub"_s).toInt(), -1);
    QVERIFY(!client.MakeFolder(u"/job/2024-01-01 Full/sub"_s));
    QCOMPARE(client.LastFailure(), TCloudFailure::FolderExists);
    // Made by another client of the same account: not made twice.
    TGoogleDrive other = Client();
    QVERIFY(other.MakeFolder(u"/job/second"_s));
    QVERIFY(!client.MakeFolder(u"/job/second"_s));
    QCOMPARE(client.LastFailure(), TCloudFailure::FolderExists);
    QCOMPARE(FServer.Count(u"/job/second"_s), 1);

    QVERIFY(client.UploadFile(*Buffer("a file"), u"/job/plain"_s, Piece));
    QVERIFY(!client.MakeFolder(u"/job/plain"_s));
    QCOMPARE(client.LastFailure(), TCloudFailure::Other);
    QVERIFY(!client.MakeFolder(u"/job/plain/below"_s));
    QVERIFY(!client.UploadFile(*Buffer("x"), u"/job/second"_s, Piece));
    QCOMPARE(FServer.Count(u"/job/plain"_s), 1);
    QCOMPARE(FServer.Count(u"/job/second"_s), 1);
}

void tst_GoogleDrive::folderDeletedElsewhereIsForgotten() {
    // The table still names a folder another program deleted: the failure drops it, so the
    // caller's next attempt (making the folder again, then the upload) goes through.
    TGoogleDrive client = Client();
    QVERIFY(client.MakeFolder(u"/gone/sub"_s));
    TGoogleDrive other = Client();
    QVERIFY(other.DeleteItem(u"/gone"_s));
    QVERIFY(!client.UploadFile(*Buffer("x"), u"/gone/sub/f"_s, Piece));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
    QVERIFY(!client.MakeFolder(u"/gone/sub/deeper"_s));
    QVERIFY2(client.MakeFolder(u"/gone/sub"_s), qPrintable(client.ErrorText()));
    QVERIFY2(client.UploadFile(*Buffer("x"), u"/gone/sub/f"_s, Piece), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/gone/sub/f"_s), QByteArray("x"));
    QCOMPARE(FServer.Count(u"/gone"_s), 1);
}

void tst_GoogleDrive::renameNeverReplacesAndMoveChangesParent() {
    TGoogleDrive client = Client();
    QVERIFY(!client.UploadFile(*Buffer("x"), u"/r/one.txt"_s, Piece)); // no folder /r yet
    QVERIFY(client.MakeFolder(u"/r"_s));
    QVERIFY(client.UploadFile(*Buffer("x"), u"/r/one.txt"_s, Piece));
    QVERIFY(client.UploadFile(*Buffer("y"), u"/r/two.txt"_s, Piece));
    QVERIFY(!client.RenameItem(u"/r/one.txt"_s, u"two.txt"_s));
    QCOMPARE(FServer.File(u"/r/two.txt"_s), QByteArray("y"));
    QCOMPARE(FServer.File(u"/r/one.txt"_s), QByteArray("x"));
    QVERIFY2(client.RenameItem(u"/r/one.txt"_s, u"/ignored/One \"1\".txt"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/r/One \"1\".txt"_s), QByteArray("x"));
    QVERIFY(!FServer.Exists(u"/r/one.txt"_s));
    TCloudItem item;
    QVERIFY(!client.StatItem(u"/r/one.txt"_s, item));
    QVERIFY(client.StatItem(u"/r/One \"1\".txt"_s, item));

    // A folder renamed keeps what is in it, and the path table follows.
    QVERIFY(client.MakeFolder(u"/r/sub"_s));
    QVERIFY(client.UploadFile(*Buffer("in sub"), u"/r/sub/f"_s, Piece));
    QVERIFY(client.RenameItem(u"/r/sub"_s, u"Sub2"_s));
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    QVERIFY2(client.DownloadFile(u"/r/Sub2/f"_s, sink), qPrintable(client.ErrorText()));
    QCOMPARE(sink.data(), QByteArray("in sub"));

    // Move: out of /r into the top folder.
    QList<TGDFileInfo> items;
    QVERIFY(client.FindByName(QString(), u"r"_s, items));
    QCOMPARE(items.size(), 1);
    QList<TGDFileInfo> inR;
    QVERIFY(client.FindByName(items.first().ID, u"two.txt"_s, inR));
    QCOMPARE(inR.size(), 1);
    QVERIFY2(client.Move(inR.first(), QString()), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/two.txt"_s), QByteArray("y"));
    QVERIFY(!FServer.Exists(u"/r/two.txt"_s));
}

void tst_GoogleDrive::removeDetachesASharedItem() {
    FServer.Put(u"/shared/theirs.txt"_s, "not ours", false, QJsonObject{{u"shared_with_me"_s, true}});
    TGoogleDrive client = Client();
    QList<TGDFileInfo> top, inside;
    QVERIFY(client.FindByName(QString(), u"shared"_s, top));
    QVERIFY(client.FindAll(top.first().ID, inside));
    QCOMPARE(inside.size(), 1);
    QVERIFY(inside.first().SharedWithMe);
    FServer.ClearCalls();
    QVERIFY2(client.Remove(inside.first()), qPrintable(client.ErrorText()));
    QCOMPARE(ApiCalls(), QStringList{u"update"_s});
    QVERIFY(!FServer.Exists(u"/shared/theirs.txt"_s));
    QVERIFY(client.FindAll(top.first().ID, inside));
    QVERIFY(inside.isEmpty());
}

void tst_GoogleDrive::uploadPieces_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("pieces");
    QTest::newRow("empty file") << 0 << Piece << 1;
    QTest::newRow("below a piece") << 100 << Piece << 1;
    QTest::newRow("exactly a piece") << Piece << Piece << 1;
    QTest::newRow("a byte more") << Piece + 1 << Piece << 2;
    QTest::newRow("three pieces") << 3 * Piece << Piece << 3;
    QTest::newRow("small chunk rounded up") << Piece + 5 << 65536 << 2;
    QTest::newRow("chunk rounded down") << 2 * Piece << Piece + 1000 << 2;
}

void tst_GoogleDrive::uploadPieces() {
    QFETCH(int, size);
    QFETCH(int, chunk);
    QFETCH(int, pieces);
    TGoogleDrive client = Client();
    QVERIFY(client.MakeFolder(u"/up"_s));
    FServer.ClearCalls();
    const QByteArray data = Pattern(size);
    QVERIFY2(client.UploadFile(*Buffer(data), u"/up/file.bin"_s, chunk), qPrintable(client.ErrorText()));
    QStringList expected{u"upload:start"_s};
    for (int i = 0; i < pieces; ++i)
        expected.append(u"upload:piece"_s);
    expected.append(u"list"_s); // the other files of the name
    QCOMPARE(ApiCalls(), expected);
    QCOMPARE(FServer.File(u"/up/file.bin"_s), data);
    QCOMPARE(client.OpenUploadSessions(), 0);
    TCloudItem item;
    QVERIFY(client.StatItem(u"/up/file.bin"_s, item));
    QCOMPARE(item.Size, uint64_t(size));
}

void tst_GoogleDrive::interruptedUploadResumes_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("connection dropped in a piece") << u"drop_upload"_s;
    QTest::newRow("piece stored, answer lost") << u"lose_answer"_s;
}

void tst_GoogleDrive::interruptedUploadResumes() {
    // The second piece breaks off: the upload fails and keeps its session; the next upload of
    // the same path asks where the session stands and goes on from there, sending no byte twice.
    QFETCH(QString, fault);
    TGoogleDrive client = Client();
    QVERIFY(client.MakeFolder(u"/big"_s));
    const QByteArray data = Pattern(4 * Piece + 17, 3);
    FServer.Fault(QJsonObject{{u"kind"_s, fault}, {u"count"_s, 1}, {u"skip"_s, 1}, {u"after"_s, 100000}});
    QBuffer* stream = Buffer(data);
    QVERIFY(!client.UploadFile(*stream, u"/big/file.bin"_s, Piece));
    QVERIFY(!client.ErrorText().isEmpty());
    QVERIFY(!client.WasCancelled());
    QCOMPARE(client.OpenUploadSessions(), 1);
    QVERIFY(!FServer.Exists(u"/big/file.bin"_s));
    FServer.ClearCalls();
    QVERIFY2(client.UploadFile(*stream, u"/big/file.bin"_s, Piece), qPrintable(client.ErrorText()));
    const int left = fault == u"lose_answer" ? 3 : 4; // the lost answer's piece was stored
    QStringList expected{u"upload:piece"_s};          // where does it stand?
    for (int i = 0; i < left; ++i)
        expected.append(u"upload:piece"_s);
    expected.append(u"list"_s);
    QCOMPARE(ApiCalls(), expected);
    QCOMPARE(FServer.File(u"/big/file.bin"_s), data);
    QCOMPARE(FServer.Count(u"/big/file.bin"_s), 1);
    QCOMPARE(client.OpenUploadSessions(), 0);
}

void tst_GoogleDrive::expiredSessionStartsOver() {
    TGoogleDrive client = Client();
    const QByteArray data = Pattern(3 * Piece, 4);
    FServer.Fault(QJsonObject{{u"kind"_s, u"drop_upload"_s}, {u"count"_s, 1}, {u"skip"_s, 1}, {u"after"_s, 10}});
    QBuffer* stream = Buffer(data);
    QVERIFY(!client.UploadFile(*stream, u"/s.bin"_s, Piece));
    FServer.Control(u"sessions"_s, QJsonObject{{u"action"_s, u"expire"_s}});
    FServer.ClearCalls();
    QVERIFY2(client.UploadFile(*stream, u"/s.bin"_s, Piece), qPrintable(client.ErrorText()));
    QCOMPARE(ApiCalls(), (QStringList{u"upload:piece"_s, u"upload:start"_s, u"upload:piece"_s, u"upload:piece"_s,
                                      u"upload:piece"_s, u"list"_s}));
    QCOMPARE(FServer.File(u"/s.bin"_s), data);
    QCOMPARE(client.OpenUploadSessions(), 0);
}

void tst_GoogleDrive::changedFileStartsANewSession() {
    // The same path and size but other bytes: continuing the old session would mix two files.
    TGoogleDrive client = Client();
    const QString path = FWork.filePath(u"changing.bin"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Pattern(2 * Piece + 3, 5));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-100), QFileDevice::FileModificationTime));
    file.close();
    FServer.Fault(QJsonObject{{u"kind"_s, u"drop_upload"_s}, {u"count"_s, 1}, {u"skip"_s, 1}, {u"after"_s, 10}});
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!client.UploadFile(file, u"/c.bin"_s, Piece));
    file.close();
    const QByteArray changed = Pattern(2 * Piece + 3, 6);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(changed);
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    FServer.ClearCalls();
    QVERIFY2(client.UploadFile(file, u"/c.bin"_s, Piece), qPrintable(client.ErrorText()));
    QCOMPARE(ApiCalls().first(), u"upload:start"_s);
    QCOMPARE(FServer.File(u"/c.bin"_s), changed);
}

void tst_GoogleDrive::busyPieceAsksWhereTheSessionStands() {
    TGoogleDrive client = Client();
    const QByteArray data = Pattern(2 * Piece + 1, 8);
    FServer.Fault(QJsonObject{{u"kind"_s, u"server"_s}, {u"count"_s, 1}, {u"skip"_s, 1}});
    FServer.ClearCalls();
    QVERIFY2(client.UploadFile(*Buffer(data), u"/busy.bin"_s, Piece), qPrintable(client.ErrorText()));
    QCOMPARE(FSleeps, QList<int>{1});
    QCOMPARE(ApiCalls(), (QStringList{u"upload:start"_s, u"upload:piece"_s, u"upload:piece"_s, u"upload:piece"_s,
                                      u"upload:piece"_s, u"upload:piece"_s, u"list"_s}));
    QCOMPARE(FServer.File(u"/busy.bin"_s), data);
}

void tst_GoogleDrive::refusedTokenRenewedOnce_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::newRow("401 expired") << u"expire"_s << 401;
    QTest::newRow("403 refused") << u"forbidden"_s << 403;
}

void tst_GoogleDrive::refusedTokenRenewedOnce() {
    QFETCH(QString, fault);
    QFETCH(int, status);
    TGoogleDrive client = Client();
    QVERIFY(client.MakeFolder(u"/e"_s));
    FServer.ClearCalls();
    FServer.Fault(QJsonObject{{u"kind"_s, fault}, {u"count"_s, 1}});
    QVERIFY2(client.UploadFile(*Buffer("payload"), u"/e/x"_s, Piece), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Calls().mid(0, 3), (QStringList{u"upload:start"_s, u"token:refresh_token"_s, u"upload:start"_s}));
    QCOMPARE(FServer.File(u"/e/x"_s), QByteArray("payload"));
    // A second refusal within one request is an error, without the token in its text.
    FServer.Fault(QJsonObject{{u"kind"_s, fault}, {u"count"_s, 2}});
    QVERIFY(!client.MakeFolder(u"/e2"_s));
    QVERIFY2(client.ErrorText().startsWith(u"HTTP error %1"_s.arg(status)), qPrintable(client.ErrorText()));
    QVERIFY(!client.ErrorText().contains(u"access-"_s));
}

void tst_GoogleDrive::refreshRefusedOrUnreachable() {
    // A refused refresh token leads to the code handler: the job's says where to sign in again.
    TGoogleDrive client = Client();
    FServer.Control(u"revoke"_s);
    int asked = 0;
    client.OnAuthorizationCodeRequest = [&asked](const QString&) {
        ++asked;
        return TCodeAnswer{{}, u"The cloud session has expired."_s};
    };
    QList<TCloudItem> items;
    QVERIFY(!client.ListItems(u"/"_s, items));
    QCOMPARE(client.ErrorText(), u"The cloud session has expired."_s);
    QCOMPARE(asked, 1);
    // A service that cannot be reached is not an expired session.
    TCloudEndpoints endpoints = FServer.Endpoints();
    endpoints.GoogleDriveToken = u"http://127.0.0.1:%1/o/oauth2/token"_s.arg(TServerProcess::FreePort());
    TGoogleDrive offline(endpoints);
    offline.ClientID = u"id"_s;
    offline.SetRefreshToken(FServer.NewRefreshToken());
    offline.OnAuthorizationCodeRequest = client.OnAuthorizationCodeRequest;
    QVERIFY(!offline.ListItems(u"/"_s, items));
    QVERIFY2(offline.ErrorText().startsWith(u"Unable to renew the access token: "_s), qPrintable(offline.ErrorText()));
    QCOMPARE(asked, 1);
    // Without a handler the sign-in cannot go on.
    TGoogleDrive bare(FServer.Endpoints());
    QVERIFY(!bare.Authorize());
    QCOMPARE(bare.ErrorText(), u"Authorization code request event not assigned"_s);
}

void tst_GoogleDrive::busyAnswersWaited_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("retryAfter"); // -1: no Retry-After
    QTest::addColumn<int>("maxRetries");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QList<int>>("sleeps");
    QTest::newRow("Retry-After waited") << 2 << 7 << 3 << true << QList<int>{7, 7};
    QTest::newRow("no advice: doubling") << 3 << -1 << 3 << true << QList<int>{1, 2, 4};
    QTest::newRow("beyond the limit") << 1 << 3600 << 3 << false << QList<int>{};
    QTest::newRow("more than the retries") << 3 << 1 << 2 << false << QList<int>{1, 1};
}

void tst_GoogleDrive::busyAnswersWaited() {
    QFETCH(int, count);
    QFETCH(int, retryAfter);
    QFETCH(int, maxRetries);
    QFETCH(bool, succeeds);
    QFETCH(QList<int>, sleeps);
    TGoogleDrive client = Client();
    client.MaxBusyRetries = maxRetries;
    QVERIFY(client.Authorize());
    QJsonObject fault{{u"kind"_s, u"busy"_s}, {u"count"_s, count}};
    if (retryAfter >= 0)
        fault.insert(u"retry_after"_s, retryAfter);
    FServer.Fault(fault);
    QList<TCloudItem> items;
    QCOMPARE(client.ListItems(u"/"_s, items), succeeds);
    QCOMPARE(FSleeps, sleeps);
    if (!succeeds)
        QVERIFY2(client.ErrorText().startsWith(u"HTTP error 429"_s), qPrintable(client.ErrorText()));
}

void tst_GoogleDrive::contentTypes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::newRow("csv") << u"a.csv"_s << u"text/csv"_s;
    QTest::newRow("tab") << u"a.tab"_s << u"text/tab-separated-values"_s;
    QTest::newRow("capitals") << u"REPORT.XLSX"_s
                              << u"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"_s;
    QTest::newRow("pps") << u"show.pps"_s << u"application/vnd.ms-powerpoint"_s;
    QTest::newRow("two dots") << u"archive.txt.zip"_s << u"application/octet-stream"_s;
    QTest::newRow("no extension") << u"README"_s << u"application/octet-stream"_s;
    QTest::newRow("dot file") << u".txt"_s << u"text/plain"_s;
}

void tst_GoogleDrive::contentTypes() {
    QFETCH(QString, name);
    QFETCH(QString, type);
    QCOMPARE(TGoogleDrive::ContentTypeFor(name), type);
    // The announced type is the stored item's type.
    TGoogleDrive client = Client();
    TGDFileInfo info;
    QVERIFY2(client.Upload(*Buffer("x"), name, QString(), Piece, info), qPrintable(client.ErrorText()));
    QCOMPARE(info.MIMEType, type);
    QCOMPARE(info.Title, name);
}

void tst_GoogleDrive::awkwardNamesRoundTrip() {
    TGoogleDrive client = Client();
    const QString folder = u"/Q 'quoted' \"x\" \\ back"_s;
    const QStringList names{u"ä ö 😀 \"x\" \\y it's {\"q\":\"'\"}.bin"_s, u"tab\there"_s, u"line\nbreak"_s,
                            u"100% a+b&c=d?.txt"_s};
    QVERIFY2(client.MakeFolder(folder), qPrintable(client.ErrorText()));
    for (const QString& name : names)
        QVERIFY2(client.UploadFile(*Buffer(name.toUtf8()), folder + u'/' + name, Piece),
                 qPrintable(client.ErrorText()));
    // Control characters are kept as their private-use stand-ins, nothing is dropped.
    QVERIFY(FServer.Tree().contains(folder + u"/tab\uF009here"_s));
    QCOMPARE(FServer.Count(folder + u"/tab\there"_s), 0);
    TGoogleDrive fresh = Client(); // reads every name back from the service
    QList<TCloudItem> items;
    QVERIFY(fresh.ListItems(folder, items));
    QStringList listed;
    for (const TCloudItem& item : items)
        listed.append(item.Name);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    QCOMPARE(listed, sorted);
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    for (const QString& name : names) {
        QVERIFY2(fresh.DownloadFile(folder + u'/' + name, sink), qPrintable(fresh.ErrorText()));
        QCOMPARE(sink.data(), name.toUtf8());
    }
    // A lookup by name (after the listing) with quotes and backslashes in the query.
    const QString outside = u"it's \\ \"new\"\ttoo"_s;
    FServer.Put(folder + u'/' + TGoogleDrive::ToDriveName(outside), "outside");
    QVERIFY2(fresh.DownloadFile(folder + u'/' + outside, sink), qPrintable(fresh.ErrorText()));
    QCOMPARE(sink.data(), QByteArray("outside"));
    QVERIFY(fresh.RenameItem(folder + u'/' + outside, u"ünï \"2\"\n"_s));
    QVERIFY(FServer.Exists(folder + u"/ünï \"2\"\uF00A"_s));
    QVERIFY(!fresh.MakeFolder(u"/a/.."_s));
    QVERIFY(!fresh.UploadFile(*Buffer("x"), u"/a/."_s, Piece));
}

void tst_GoogleDrive::cancelFromProgress() {
    TGoogleDrive client = Client();
    const QByteArray data = Pattern(6 * Piece, 6);
    int64_t last = 0, total = 0;
    bool backwards = false;
    client.OnUploadProgress = [&](int64_t done, int64_t all) {
        backwards = backwards || done < last;
        last = done;
        total = all;
        return true;
    };
    QVERIFY2(client.UploadFile(*Buffer(data), u"/d.bin"_s, 2 * Piece), qPrintable(client.ErrorText()));
    QCOMPARE(total, int64_t(data.size()));
    QCOMPARE(last, int64_t(data.size()));
    QVERIFY(!backwards);

    client.OnUploadProgress = [](int64_t done, int64_t) { return done < Piece + 10; };
    QVERIFY(!client.UploadFile(*Buffer(data), u"/cancelled.bin"_s, Piece));
    QCOMPARE(client.ErrorText(), u"Cancelled"_s);
    QCOMPARE(client.LastFailure(), TCloudFailure::Cancelled);
    QVERIFY(!FServer.Exists(u"/cancelled.bin"_s));

    const QByteArray large = Pattern(6 * 1024 * 1024, 9);
    client.OnUploadProgress = {};
    QVERIFY(client.UploadFile(*Buffer(large), u"/large.bin"_s, 4 * 1024 * 1024));
    client.OnDownloadProgress = [](int64_t done, int64_t) { return done < 1024 * 1024; };
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    QVERIFY(!client.DownloadFile(u"/large.bin"_s, sink));
    QCOMPARE(client.ErrorText(), u"Cancelled"_s);
    QVERIFY(client.WasCancelled());
    QVERIFY(sink.data().size() < large.size());
    QVERIFY(large.startsWith(sink.data()));
}

void tst_GoogleDrive::loopbackSignIn() {
    TGoogleDrive client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.ClientSecret = u"test-secret"_s;
    client.SetScope(TGoogleDrive::JobScopes());
    const quint16 port = TServerProcess::FreePort();
    client.RedirectURI = LoopbackRedirectUri(port);
    QString seenUrl;
    int listenerStatus = 0;
    client.OnAuthorizationCodeRequest = [&](const QString& url) {
        seenUrl = url;
        TLoopbackCodeListener listener;
        if (!listener.Start(port, StateOfAuthorizationUrl(url)))
            return TCodeAnswer{{}, listener.ErrorString()};
        std::thread browser([&] {
            THttpClient http;
            THttpRequest request;
            request.Method = "GET";
            request.Url = url;
            request.Url = QString::fromUtf8(http.Send(request).Header("location"));
            listenerStatus = http.Send(request).Status;
        });
        const QString code = listener.WaitForCode({});
        browser.join();
        return TCodeAnswer{code, {}};
    };
    QVERIFY2(client.Authorize(), qPrintable(client.ErrorText()));
    QCOMPARE(listenerStatus, 200);
    QVERIFY(client.RefreshToken().startsWith(u"refresh-"_s));
    const QUrlQuery query{QUrl(seenUrl)};
    QCOMPARE(query.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded), LoopbackRedirectUri(port));
    QCOMPARE(query.queryItemValue(u"scope"_s, QUrl::FullyDecoded), u"https://www.googleapis.com/auth/drive.file"_s);
    QCOMPARE(query.queryItemValue(u"response_type"_s), u"code"_s);
    QCOMPARE(query.queryItemValue(u"code_challenge_method"_s), u"S256"_s);
    QCOMPARE(query.queryItemValue(u"state"_s).size(), 32);
    QList<TCloudItem> items;
    QVERIFY2(client.ListItems(u"/"_s, items), qPrintable(client.ErrorText()));

    // A new scope discards the tokens granted for the old one.
    client.SetScope(TGoogleDrive::DefaultScopes());
    QVERIFY(client.RefreshToken().isEmpty());
    QVERIFY(!client.HasAccessToken());
}

void tst_GoogleDrive::pastedCodeAndHandlerResults() {
    // Without a redirect of its own the client uses http://localhost:LoopbackPort both in the
    // address and when it trades the code (the service requires the two to match).
    TGoogleDrive client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.ClientSecret = u"test-secret"_s;
    client.LoopbackPort = 8889;
    const QString url = client.CodeAuthorizationUrl();
    QCOMPARE(QUrlQuery(QUrl(url)).queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded), u"http://localhost:8889"_s);
    QCOMPARE(QUrlQuery(QUrl(url)).queryItemValue(u"scope"_s, QUrl::FullyDecoded), TGoogleDrive::DefaultScopes());
    THttpClient http;
    THttpRequest request;
    request.Method = "GET";
    request.Url = url;
    const QUrl redirect(QString::fromUtf8(http.Send(request).Header("location")));
    const QString code = QUrlQuery(redirect).queryItemValue(u"code"_s);
    QVERIFY(code.startsWith(u"code-"_s));
    client.OnAuthorizationCodeRequest = [&code](const QString&) { return TCodeAnswer{u' ' + code + u'\n', {}}; };
    QVERIFY2(client.Authorize(), qPrintable(client.ErrorText()));
    QVERIFY(!client.RefreshToken().isEmpty());

    const QList<std::pair<QString, QString>> results{{u"cancel"_s, u"Authorization cancelled"_s},
                                                     {u"fail"_s, u"Authorization failed"_s},
                                                     {QString(), u"Authorization failed"_s}};
    for (const auto& [answer, text] : results) {
        TGoogleDrive other(FServer.Endpoints());
        const QString given = answer;
        other.OnAuthorizationCodeRequest = [given](const QString&) { return TCodeAnswer{given, {}}; };
        QVERIFY(!other.Authorize());
        QCOMPARE(other.ErrorText(), text);
    }
}

void tst_GoogleDrive::factoryMakesTheJobClient() {
    App().GoogleClientId = u"gid"_s;
    App().GoogleClientSecret = u"gsecret"_s;
    const std::unique_ptr<TCloudDrive> drive = MakeCloudDrive(TCloudService::GoogleDrive, FServer.Endpoints());
    QVERIFY(drive);
    QCOMPARE(drive->Service(), TCloudService::GoogleDrive);
    QCOMPARE(drive->ClientID, u"gid"_s);
    QCOMPARE(drive->ClientSecret, u"gsecret"_s);
    QCOMPARE(drive->Scopes, TGoogleDrive::JobScopes());
    QCOMPARE(CloudLoopbackPort(TCloudService::GoogleDrive), quint16(8889));
    QCOMPARE(static_cast<TGoogleDrive*>(drive.get())->LoopbackPort, quint16(8889));
    TCloudService service = TCloudService::Dropbox;
    QVERIFY(CloudServiceFromName(u"googledrive"_s, service));
    QCOMPARE(service, TCloudService::GoogleDrive);
    QCOMPARE(CloudServiceName(service), u"Google Drive"_s);
}

QTEST_GUILESS_MAIN(tst_GoogleDrive)
#include "tst_googledrive.moc"
