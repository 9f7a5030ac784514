// The OneDrive client against the Graph stand-in: name mapping and checks, listing pages (and a
// next page on a foreign host), folders, rename, delete, downloads through a redirect that must
// not carry the token, upload sessions in fragments (resumed, restarted, lost answers), refused
// and busy answers, both ways of signing in, progress and cancel.
#include "TOneDriveStandIn.h"

#include "cloud/TOneDrive.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {

QByteArray Pattern(qsizetype size, int seed = 1) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed * 7 + i / 997) % 256);
    return data;
}

constexpr qint64 Unit = TOneDrive::FragmentUnit;
constexpr qint64 Job = TOneDrive::DefaultFragmentSize;

} // namespace

class tst_OneDrive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void nameMappingRoundTrips_data();
    void nameMappingRoundTrips();
    void refusedNamesFailBeforeAnyRequest_data();
    void refusedNamesFailBeforeAnyRequest();
    void remoteItemTakesRemoteIdKeepsName();
    void listingAllPagesSorted();
    void nextPageOnAnotherHostIsRefused();
    void awkwardNamesThroughTheDriveInterface();
    void foldersRenameDeleteAndTheirFailures();
    void downloadRedirectGetsNoToken();
    void uploadFragments_data();
    void uploadFragments();
    void fragmentSizeLimits();
    void interruptedUploadResumesItsSession();
    void lostAnswerAsksWhereTheSessionStands();
    void expiredSessionStartsANewOne();
    void refusedTokenRenewedOnce_data();
    void refusedTokenRenewedOnce();
    void busyAnswersWaitRetryAfter();
    void signInThroughTheLoopbackWithPkceAndState();
    void signInWithAPastedAddress();
    void revokedRefreshTokenAsksTheHandler();
    void progressAndCancel();

private:
    TOneDrive Client();
    QBuffer* Buffer(const QByteArray& data);
    QList<QList<qint64>> Fragments();
    // Follows the stand-in's authorization address as a browser would; the redirect it answers.
    QUrl Browse(const QString& url);

    TOneDriveStandIn FServer;
    QString FRefresh;
    QList<int> FSleeps;
    std::vector<std::unique_ptr<QBuffer>> FBuffers;
};

void tst_OneDrive::initTestCase() {
    QVERIFY2(FServer.Start(3), qPrintable(FServer.Output()));
}

void tst_OneDrive::init() {
    FServer.Control(u"reset"_s);
    FRefresh = FServer.NewRefreshToken();
    FSleeps.clear();
}

TOneDrive tst_OneDrive::Client() {
    TOneDrive client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.SetRefreshToken(FRefresh);
    client.Sleep = [this](int seconds) { FSleeps.append(seconds); };
    return client;
}

QBuffer* tst_OneDrive::Buffer(const QByteArray& data) {
    FBuffers.push_back(std::make_unique<QBuffer>());
    FBuffers.back()->setData(data);
    FBuffers.back()->open(QIODevice::ReadOnly);
    return FBuffers.back().get();
}

QList<QList<qint64>> tst_OneDrive::Fragments() {
    QList<QList<qint64>> fragments;
    for (const QJsonValue fragment : FServer.State().value(u"fragments"_s).toArray()) {
        QList<qint64> range;
        for (const QJsonValue value : fragment.toArray())
            range.append(value.toInteger());
        fragments.append(range);
    }
    return fragments;
}

QUrl tst_OneDrive::Browse(const QString& url) {
    THttpClient browser;
    THttpRequest request;
    request.Method = "GET";
    request.Url = url;
    const THttpResponse answer = browser.Send(request);
    if (answer.Status != 302)
        return {};
    return QUrl(QString::fromLatin1(answer.Header("location")));
}

void tst_OneDrive::nameMappingRoundTrips_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");
    const auto mapped = [](char c) { return QString(QChar(char16_t(0xF000 + c))); };
    QTest::newRow("plain") << u"plain name.txt"_s << u"plain name.txt"_s;
    QTest::newRow("unicode, #, %, &, ~") << u"ünï 😀 #1 100% a&b ~x"_s << u"ünï 😀 #1 100% a&b ~x"_s;
    QTest::newRow("share characters") << u"a:b*c?\"d\"<e>|f\\g"_s
                                      << u"a"_s + mapped(':') + u"b"_s + mapped('*') + u"c"_s + mapped('?') +
                                             mapped('"') + u"d"_s + mapped('"') + mapped('<') + u"e"_s + mapped('>') +
                                             mapped('|') + u"f"_s + mapped('\\') + u"g"_s;
    QTest::newRow("trailing full stop") << u"name."_s << u"name"_s + mapped('.');
    QTest::newRow("blanks at both ends") << u" name "_s << mapped(' ') + u"name"_s + mapped(' ');
    QTest::newRow("device name") << u"CON"_s << mapped('C') + u"ON"_s;
    QTest::newRow("device name with extension") << u"lpt1.txt"_s << mapped('l') + u"pt1.txt"_s;
    QTest::newRow("lock file") << u".lock"_s << mapped('.') + u"lock"_s;
    QTest::newRow("office owner file") << u"~$report.docx"_s << mapped('~') + u"$report.docx"_s;
    QTest::newRow("_vti_ inside") << u"a_vti_b"_s << u"a"_s + mapped('_') + u"vti_b"_s;
    QTest::newRow("console is no device") << u"console"_s << u"console"_s;
}

void tst_OneDrive::nameMappingRoundTrips() {
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QCOMPARE(ToOneDriveName(name), stored);
    QCOMPARE(OneDriveNameProblem(stored), QString());
    QCOMPARE(FromOneDriveName(stored), name);
}

void tst_OneDrive::refusedNamesFailBeforeAnyRequest_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("trailing full stop") << u"x."_s << u"invalid trailing character"_s;
    QTest::newRow("colon") << u"a:b"_s << u"invalid characters"_s;
    QTest::newRow("empty") << QString() << u"empty name"_s;
    QTest::newRow("reserved") << u"desktop.ini"_s << u"reserved name"_s;
}

void tst_OneDrive::refusedNamesFailBeforeAnyRequest() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    TOneDrive client = Client();
    QVERIFY(client.Authorize());
    FServer.ClearCalls();
    QVERIFY(!client.CreateFolder(name, u"/"_s));
    QCOMPARE(client.ErrorText(), text);
    QVERIFY(!client.UploadResumable(*Buffer("x"), u"/"_s + name, Unit));
    QCOMPARE(client.ErrorText(), text);
    QVERIFY(!client.Rename(u"/some"_s, name));
    QCOMPARE(client.ErrorText(), text);
    QVERIFY(FServer.Calls().isEmpty());
}

void tst_OneDrive::remoteItemTakesRemoteIdKeepsName() {
    const QJsonObject json{
        {u"id"_s, u"local!1"_s},
        {u"name"_s, u"Shared folder"_s},
        {u"remoteItem"_s, QJsonObject{{u"id"_s, u"abc!42"_s},
                                      {u"name"_s, u"Their name"_s},
                                      {u"size"_s, 123},
                                      {u"folder"_s, QJsonObject{}},
                                      {u"parentReference"_s, QJsonObject{{u"driveId"_s, u"abc"_s}}}}}};
    const TODFileInfo info = TODFileInfo::FromJson(json);
    QCOMPARE(info.Title, u"Shared folder"_s);
    QCOMPARE(info.ID, u"abc!42"_s);
    QCOMPARE(info.LocalID, u"local!1"_s);
    QCOMPARE(info.GetDriveID(), u"abc"_s);
    QVERIFY(info.IsDir);
    QCOMPARE(info.Size, uint64_t(123));
    QCOMPARE(TODFileInfo::FromJson(QJsonObject{{u"id"_s, u"d1!7"_s}}).GetDriveID(), u"d1"_s);
    QCOMPARE(TODFileInfo::FromJson(QJsonObject{{u"id"_s, u"plainid"_s}}).GetDriveID(), u"me"_s);
}

void tst_OneDrive::listingAllPagesSorted() {
    TOneDrive client = Client();
    QVERIFY2(client.CreateFolder(u"Top"_s, u"/"_s), qPrintable(client.ErrorText()));
    for (const QString& name : {u"b.txt"_s, u"A.txt"_s, u"c.txt"_s, u"D.txt"_s})
        QVERIFY2(client.Upload(*Buffer(name.toUtf8()), u"/Top/"_s + name), qPrintable(client.ErrorText()));
    for (const QString& name : {u"zeta"_s, u"Alpha"_s, u"mid"_s})
        QVERIFY(client.CreateFolder(name, u"/Top"_s));
    FServer.ClearCalls();
    QList<TODFileInfo> entries;
    QVERIFY2(client.ListChildren(u"/Top"_s, entries), qPrintable(client.ErrorText()));
    QStringList names;
    for (const TODFileInfo& entry : entries)
        names.append(entry.Title + (entry.IsDir ? u"/"_s : QString()));
    QCOMPARE(names, (QStringList{u"Alpha/"_s, u"mid/"_s, u"zeta/"_s, u"A.txt"_s, u"b.txt"_s, u"c.txt"_s, u"D.txt"_s}));
    // Seven children in pages of three.
    const QString children = u"GET /v1.0/me/drive/root:/Top:/children"_s;
    QCOMPARE(FServer.Calls(), (QStringList{children, children, children}));
    QCOMPARE(entries.last().Size, uint64_t(5));
    QVERIFY(entries.last().Modified.isValid());
    QVERIFY(client.ListChildren(u"/"_s, entries));
    QCOMPARE(entries.size(), 1);
    QVERIFY(client.ListChildren(u"/Top/mid"_s, entries));
    QVERIFY(entries.isEmpty());
    QVERIFY(!client.ListChildren(u"/missing"_s, entries));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
}

void tst_OneDrive::nextPageOnAnotherHostIsRefused() {
    TOneDrive client = Client();
    for (int i = 0; i < 5; ++i)
        QVERIFY(client.Upload(*Buffer("x"), u"/f%1"_s.arg(i)));
    FServer.Fault(QJsonObject{{u"kind"_s, u"foreign_next_link"_s}, {u"count"_s, 1}});
    QList<TCloudItem> items;
    QVERIFY(!client.ListItems(u"/"_s, items));
    QVERIFY2(client.ErrorText().startsWith(u"The listing's next page is on another host"_s),
             qPrintable(client.ErrorText()));
    QVERIFY(FServer.ContentAuthorizations().isEmpty());
    QVERIFY(client.ListItems(u"/"_s, items));
    QCOMPARE(items.size(), 5);
}

void tst_OneDrive::awkwardNamesThroughTheDriveInterface() {
    // Names OneDrive refuses are stored mapped and come back as they were.
    TOneDrive client = Client();
    const QString folder = u"/a<b>c|d/ CON /x. "_s;
    QVERIFY2(client.MakeFolder(folder), qPrintable(client.ErrorText()));
    const QStringList names{u"x:y*z?\"q\" 100% é.txt"_s, u"back\\slash "_s, u"ünï 😀.bin"_s, u"desktop.ini"_s,
                            u"end."_s};
    for (const QString& name : names)
        QVERIFY2(client.UploadFile(*Buffer(name.toUtf8()), folder + u'/' + name, 0), qPrintable(client.ErrorText()));
    QList<TCloudItem> items;
    QVERIFY2(client.ListItems(folder, items), qPrintable(client.ErrorText()));
    QStringList listed;
    for (const TCloudItem& item : items)
        listed.append(item.Name);
    QStringList expected = names;
    expected.sort(Qt::CaseInsensitive);
    listed.sort(Qt::CaseInsensitive);
    QCOMPARE(listed, expected);
    QVERIFY(client.ListItems(u"/a<b>c|d"_s, items));
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().Name, u" CON "_s);
    QVERIFY(items.first().IsDir);
    for (const QString& name : names) {
        QBuffer back;
        back.open(QIODevice::ReadWrite);
        QVERIFY2(client.DownloadFile(folder + u'/' + name, back), qPrintable(client.ErrorText()));
        QCOMPARE(back.data(), name.toUtf8());
    }
    // What the service holds are the mapped names.
    QVERIFY(FServer.Exists(TOneDrive::StoredPath(folder + u"/end."_s)));
    QVERIFY(!FServer.Exists(u"/a<b>c|d"_s));
    QVERIFY2(client.RenameItem(folder + u"/end."_s, u"new: name."_s), qPrintable(client.ErrorText()));
    TCloudItem item;
    QVERIFY2(client.StatItem(folder + u"/new: name."_s, item), qPrintable(client.ErrorText()));
    QCOMPARE(item.Name, u"new: name."_s);
    QVERIFY2(client.DeleteItem(u"/a<b>c|d"_s), qPrintable(client.ErrorText()));
    QVERIFY(!client.StatItem(folder, item));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
}

void tst_OneDrive::foldersRenameDeleteAndTheirFailures() {
    TOneDrive client = Client();
    // Missing parents are made.
    QVERIFY2(client.MakeFolder(u"/p/q/r"_s), qPrintable(client.ErrorText()));
    QVERIFY(FServer.Exists(u"/p/q/r"_s));
    QVERIFY(!client.MakeFolder(u"/p/q"_s));
    QCOMPARE(client.LastFailure(), TCloudFailure::FolderExists);
    QVERIFY(client.Upload(*Buffer("1"), u"/p/one"_s));
    QVERIFY(client.Upload(*Buffer("2"), u"/p/two"_s));
    QVERIFY(!client.MakeFolder(u"/p/one/below"_s));
    // Renaming onto an existing name never replaces it.
    QVERIFY(!client.RenameItem(u"/p/one"_s, u"two"_s));
    QVERIFY2(client.ErrorText().startsWith(u"HTTP error 409: nameAlreadyExists"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/p/two"_s), QByteArray("2"));
    QCOMPARE(FServer.File(u"/p/one"_s), QByteArray("1"));
    TODFileInfo info;
    QVERIFY2(client.Rename(u"/p/q"_s, u"Q2"_s, &info), qPrintable(client.ErrorText()));
    QCOMPARE(info.Title, u"Q2"_s);
    QVERIFY(FServer.Exists(u"/p/Q2/r"_s));
    QVERIFY(!client.RenameItem(u"/p/none"_s, u"three"_s));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
    QVERIFY2(client.DeleteItem(u"/p/Q2"_s), qPrintable(client.ErrorText()));
    QVERIFY(!FServer.Exists(u"/p/Q2/r"_s));
    QVERIFY(!client.DeleteItem(u"/p/Q2"_s));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
    QVERIFY(!client.DeleteItem(u"/"_s));
    QString user;
    QVERIFY2(client.GetUserName(user), qPrintable(client.ErrorText()));
    QCOMPARE(user, u"Stand In"_s);
    QCOMPARE(client.DriveID(), u"standin-drive"_s);
}

void tst_OneDrive::downloadRedirectGetsNoToken() {
    TOneDrive client = Client();
    const QByteArray data = Pattern(700000, 2);
    QVERIFY2(client.UploadFile(*Buffer(data), u"/d/file.bin"_s, 0), qPrintable(client.ErrorText()));
    FServer.ClearCalls();
    QBuffer back;
    back.open(QIODevice::ReadWrite);
    back.write("stale bytes of an earlier attempt");
    QVERIFY2(client.DownloadFile(u"/d/file.bin"_s, back), qPrintable(client.ErrorText()));
    QVERIFY(back.data() == data);
    const QStringList calls = FServer.Calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls.at(0), u"GET /v1.0/me/drive/root:/d/file.bin:/content"_s);
    QVERIFY2(calls.at(1).startsWith(u"content GET /download/"_s), qPrintable(calls.at(1)));
    // Neither the download nor the upload session's fragments brought the token to the other host.
    QCOMPARE(FServer.ContentAuthorizations(), QStringList());
    QVERIFY(!client.DownloadFile(u"/d/none.bin"_s, back));
    QCOMPARE(client.LastFailure(), TCloudFailure::NotFound);
}

void tst_OneDrive::uploadFragments_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("fragment");
    QTest::addColumn<QList<QList<qint64>>>("fragments");
    QTest::newRow("one byte") << qint64(1) << Unit << QList<QList<qint64>>{{0, 0, 1}};
    QTest::newRow("exactly a fragment") << Unit << Unit << QList<QList<qint64>>{{0, Unit - 1, Unit}};
    QTest::newRow("a byte more") << Unit + 1 << Unit
                                 << QList<QList<qint64>>{{0, Unit - 1, Unit + 1}, {Unit, Unit, Unit + 1}};
    QTest::newRow("job fragments, a byte more")
        << Job + 1 << Job << QList<QList<qint64>>{{0, Job - 1, Job + 1}, {Job, Job, Job + 1}};
    QTest::newRow("empty file: no session") << qint64(0) << Unit << QList<QList<qint64>>{};
}

void tst_OneDrive::uploadFragments() {
    QFETCH(qint64, size);
    QFETCH(qint64, fragment);
    QFETCH(QList<QList<qint64>>, fragments);
    TOneDrive client = Client();
    QVERIFY(client.Authorize());
    QVERIFY(client.Upload(*Buffer("old content"), u"/up/file.bin"_s));
    FServer.ClearCalls();
    const QByteArray data = Pattern(size);
    TODFileInfo info;
    QVERIFY2(client.UploadResumable(*Buffer(data), u"/up/file.bin"_s, fragment, &info), qPrintable(client.ErrorText()));
    QCOMPARE(Fragments(), fragments);
    QCOMPARE(info.Size, uint64_t(size));
    QCOMPARE(info.Title, u"file.bin"_s);
    QVERIFY(FServer.File(u"/up/file.bin"_s) == data);
    QVERIFY(client.ResumableUploads().isEmpty());
    QCOMPARE(FServer.Calls().count(u"POST /v1.0/me/drive/root:/up/file.bin:/createUploadSession"_s),
             fragments.isEmpty() ? 0 : 1);
    QCOMPARE(FServer.ContentAuthorizations(), QStringList());
}

void tst_OneDrive::fragmentSizeLimits() {
    TOneDrive client = Client();
    QVERIFY(client.Authorize());
    FServer.ClearCalls();
    QVERIFY(!client.UploadResumable(*Buffer("x"), u"/l"_s, Unit * 193));
    QCOMPARE(client.ErrorText(), u"OneDrive API does not allow fragments larger than 60MB"_s);
    QVERIFY(!client.UploadResumable(*Buffer("x"), u"/l"_s, 4194304));
    QCOMPARE(client.ErrorText(), u"Fragment size MUST be a multiple of 320 KiB (327,680 bytes)"_s);
    QVERIFY(!client.Upload(*Buffer(QByteArray(TOneDrive::MaxSimpleUploadSize + 1, 'x')), u"/l"_s));
    QCOMPARE(client.ErrorText(), u"Can not directly upload files larger than 4 Mb"_s);
    QVERIFY(FServer.Calls().isEmpty());
    QVERIFY2(client.UploadResumable(*Buffer("small"), u"/l"_s, Unit * 192), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.File(u"/l"_s), QByteArray("small"));
}

void tst_OneDrive::interruptedUploadResumesItsSession() {
    TOneDrive client = Client();
    const QByteArray data = Pattern(3 * Unit + 100, 3);
    FServer.Fault(QJsonObject{{u"kind"_s, u"drop_upload"_s}, {u"count"_s, 1}, {u"skip"_s, 1}, {u"after"_s, 100000}});
    QBuffer* stream = Buffer(data);
    QVERIFY(!client.UploadResumable(*stream, u"/big.bin"_s, Unit));
    QVERIFY(!client.ErrorText().isEmpty());
    QCOMPARE(client.ResumableUploads().size(), 1);
    QVERIFY(!FServer.Exists(u"/big.bin"_s));
    FServer.ClearCalls();
    QVERIFY2(client.UploadResumable(*stream, u"/big.bin"_s, Unit), qPrintable(client.ErrorText()));
    // The session is asked where it stands, then the rest follows from the second fragment on.
    QStringList calls = FServer.Calls();
    QCOMPARE(calls.size(), 4);
    QVERIFY(calls.at(0).startsWith(u"content GET /upload/"_s));
    QCOMPARE(Fragments(), (QList<QList<qint64>>{{Unit, 2 * Unit - 1, 3 * Unit + 100},
                                                {2 * Unit, 3 * Unit - 1, 3 * Unit + 100},
                                                {3 * Unit, 3 * Unit + 99, 3 * Unit + 100}}));
    QVERIFY(FServer.File(u"/big.bin"_s) == data);
    QVERIFY(client.ResumableUploads().isEmpty());
}

void tst_OneDrive::lostAnswerAsksWhereTheSessionStands() {
    // The service stored a fragment but the answer was lost: the next fragment is the one after it.
    TOneDrive client = Client();
    const QByteArray data = Pattern(2 * Unit + 10, 4);
    FServer.Fault(QJsonObject{{u"kind"_s, u"lose_answer"_s}, {u"count"_s, 1}});
    QBuffer* stream = Buffer(data);
    QVERIFY(!client.UploadResumable(*stream, u"/lost.bin"_s, Unit));
    QVERIFY2(client.UploadResumable(*stream, u"/lost.bin"_s, Unit), qPrintable(client.ErrorText()));
    QCOMPARE(Fragments().size(), 3); // each fragment once
    QVERIFY(FServer.File(u"/lost.bin"_s) == data);
}

void tst_OneDrive::expiredSessionStartsANewOne() {
    TOneDrive client = Client();
    const QByteArray data = Pattern(2 * Unit + 10, 5);
    FServer.Fault(QJsonObject{{u"kind"_s, u"expire_session"_s}, {u"count"_s, 1}, {u"skip"_s, 1}});
    QVERIFY(client.Authorize());
    FServer.ClearCalls();
    QVERIFY2(client.UploadResumable(*Buffer(data), u"/s.bin"_s, Unit), qPrintable(client.ErrorText()));
    QCOMPARE(FServer.Calls().count(u"POST /v1.0/me/drive/root:/s.bin:/createUploadSession"_s), 2);
    QVERIFY(FServer.File(u"/s.bin"_s) == data);
    // A session that keeps vanishing ends the upload after a few new ones.
    FServer.Fault(QJsonObject{{u"kind"_s, u"expire_session"_s}, {u"count"_s, 100}});
    QVERIFY(!client.UploadResumable(*Buffer(data), u"/s2.bin"_s, Unit));
    QVERIFY2(client.ErrorText().startsWith(u"HTTP error 404"_s), qPrintable(client.ErrorText()));
    QVERIFY(client.ResumableUploads().isEmpty());
}

void tst_OneDrive::refusedTokenRenewedOnce_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("401") << 401;
    QTest::newRow("403") << 403;
}

void tst_OneDrive::refusedTokenRenewedOnce() {
    QFETCH(int, status);
    TOneDrive client = Client();
    QVERIFY(client.MakeFolder(u"/e"_s));
    const QString firstRefresh = client.RefreshToken();
    FServer.ClearCalls();
    FServer.Fault(QJsonObject{{u"kind"_s, u"expire"_s}, {u"count"_s, 1}, {u"status"_s, status}});
    QVERIFY2(client.MakeFolder(u"/e/x"_s), qPrintable(client.ErrorText()));
    const QString create = u"POST /v1.0/me/drive/root:/e:/children"_s;
    QCOMPARE(FServer.Calls(), (QStringList{create, u"token:refresh_token"_s, create}));
    // The service's new refresh token replaces the used one.
    QVERIFY(client.RefreshToken() != firstRefresh);
    FServer.Fault(QJsonObject{{u"kind"_s, u"expire"_s}, {u"count"_s, 2}, {u"status"_s, status}});
    QVERIFY(!client.MakeFolder(u"/e2"_s));
    QVERIFY2(client.ErrorText().startsWith(u"HTTP error %1"_s.arg(status)), qPrintable(client.ErrorText()));
    QVERIFY(!client.ErrorText().contains(u"access-"_s));
}

void tst_OneDrive::busyAnswersWaitRetryAfter() {
    TOneDrive client = Client();
    QVERIFY(client.Authorize());
    FServer.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 2}, {u"retry_after"_s, 7}});
    QVERIFY2(client.MakeFolder(u"/busy"_s), qPrintable(client.ErrorText()));
    QCOMPARE(FSleeps, (QList<int>{7, 7}));
    // Also a fragment on the upload host.
    FSleeps.clear();
    FServer.Fault(QJsonObject{{u"kind"_s, u"busy_content"_s}, {u"count"_s, 1}, {u"retry_after"_s, 2}});
    const QByteArray data = Pattern(Unit + 1, 6);
    QVERIFY2(client.UploadResumable(*Buffer(data), u"/busy/f"_s, Unit), qPrintable(client.ErrorText()));
    QCOMPARE(FSleeps, QList<int>{2});
    QVERIFY(FServer.File(u"/busy/f"_s) == data);
    // Longer than the limit, or more often than the retries: the answer is the error.
    FSleeps.clear();
    client.MaxBusyRetries = 2;
    FServer.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 1}, {u"retry_after"_s, 3600}});
    QVERIFY(!client.MakeFolder(u"/busy2"_s));
    QVERIFY2(client.ErrorText().startsWith(u"HTTP error 429"_s), qPrintable(client.ErrorText()));
    QVERIFY(FSleeps.isEmpty());
    FServer.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 3}, {u"retry_after"_s, 1}});
    QVERIFY(!client.MakeFolder(u"/busy2"_s));
    QCOMPARE(FSleeps, (QList<int>{1, 1}));
}

void tst_OneDrive::signInThroughTheLoopbackWithPkceAndState() {
    TOneDrive client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.RedirectURI = u"http://127.0.0.1:8890"_s;
    QString state;
    client.OnAuthorizationCodeRequest = [&](const QString& url) {
        const QUrlQuery query{QUrl(url)};
        if (query.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded) != u"http://localhost:8890"_s ||
            query.queryItemValue(u"code_challenge"_s).size() != 43 ||
            query.queryItemValue(u"code_challenge_method"_s) != u"S256"_s ||
            query.queryItemValue(u"scope"_s, QUrl::FullyDecoded) != TOneDrive::JobScopes())
            return TCodeAnswer{{}, u"unexpected authorization address: "_s + url};
        state = query.queryItemValue(u"state"_s, QUrl::FullyDecoded);
        const QUrl back = Browse(url);
        if (back.host() != u"localhost"_s || QUrlQuery(back).queryItemValue(u"state"_s, QUrl::FullyDecoded) != state)
            return TCodeAnswer{{}, u"unexpected redirect: "_s + back.toString()};
        return TCodeAnswer{QUrlQuery(back).queryItemValue(u"code"_s, QUrl::FullyDecoded), {}};
    };
    QVERIFY2(client.Authorize(), qPrintable(client.ErrorText()));
    QVERIFY(state.size() >= 32);
    QVERIFY(client.RefreshToken().startsWith(u"refresh-"_s));
    QVERIFY2(client.MakeFolder(u"/signed in"_s), qPrintable(client.ErrorText()));
    // A cancelled wait and a denial end the sign-in with their texts.
    TOneDrive other(FServer.Endpoints());
    other.ClientID = u"test-id"_s;
    other.RedirectURI = client.RedirectURI;
    other.OnAuthorizationCodeRequest = [](const QString&) { return TCodeAnswer{u"cancel"_s, {}}; };
    QVERIFY(!other.Authorize());
    QCOMPARE(other.ErrorText(), u"Authorization cancelled"_s);
    other.OnAuthorizationCodeRequest = [](const QString&) { return TCodeAnswer{u"fail"_s, {}}; };
    QVERIFY(!other.Authorize());
    QCOMPARE(other.ErrorText(), u"Authorization failed"_s);
}

void tst_OneDrive::signInWithAPastedAddress() {
    // Without a redirect of its own the sign-in ends on the native-client page, whose address
    // holds the code; the user pastes the code or the whole address.
    for (const bool wholeAddress : {false, true}) {
        TOneDrive client(FServer.Endpoints());
        client.ClientID = u"test-id"_s;
        const QString url = client.CodeAuthorizationUrl();
        QVERIFY(url.contains(u"nativeclient"_s));
        QVERIFY(!url.contains(u"code_challenge"_s));
        const QUrl back = Browse(url);
        QCOMPARE(back.path(), u"/common/oauth2/nativeclient"_s);
        const QString pasted = wholeAddress ? back.toString(QUrl::FullyEncoded)
                                            : QUrlQuery(back).queryItemValue(u"code"_s, QUrl::FullyDecoded);
        client.OnAuthorizationCodeRequest = [&](const QString&) { return TCodeAnswer{pasted, {}}; };
        QVERIFY2(client.Authorize(), qPrintable(client.ErrorText()));
        QVERIFY(!client.RefreshToken().isEmpty());
    }
}

void tst_OneDrive::revokedRefreshTokenAsksTheHandler() {
    // A refused refresh token (4xx) leads to a new sign-in, which a job's handler refuses with
    // its text.
    TOneDrive client = Client();
    FServer.Control(u"revoke"_s);
    client.OnAuthorizationCodeRequest = [](const QString&) { return TCodeAnswer{{}, u"session expired"_s}; };
    QVERIFY(!client.MakeFolder(u"/r"_s));
    QCOMPARE(client.ErrorText(), u"session expired"_s);
    // Without any handler the sign-in cannot go on.
    client.OnAuthorizationCodeRequest = {};
    QVERIFY(!client.MakeFolder(u"/r"_s));
    QCOMPARE(client.ErrorText(), u"Authorization code request event not assigned"_s);
    // A token endpoint that cannot be reached is reported as it is.
    TCloudEndpoints nowhere = FServer.Endpoints();
    nowhere.OneDriveToken = u"http://127.0.0.1:%1/token"_s.arg(TServerProcess::FreePort());
    TOneDrive unreachable(nowhere);
    unreachable.SetRefreshToken(u"refresh-x"_s);
    bool asked = false;
    unreachable.OnAuthorizationCodeRequest = [&](const QString&) {
        asked = true;
        return TCodeAnswer{{}, u"session expired"_s};
    };
    QVERIFY(!unreachable.MakeFolder(u"/r"_s));
    QVERIFY(!asked);
    QVERIFY(unreachable.ErrorText() != u"session expired"_s);
}

void tst_OneDrive::progressAndCancel() {
    TOneDrive client = Client();
    const QByteArray data = Pattern(3 * Unit + 5, 7);
    int64_t last = 0, total = 0;
    bool backwards = false;
    client.OnUploadProgress = [&](int64_t done, int64_t all) {
        backwards = backwards || done < last;
        last = done;
        total = all;
        return true;
    };
    QVERIFY2(client.UploadResumable(*Buffer(data), u"/p.bin"_s, Unit), qPrintable(client.ErrorText()));
    QCOMPARE(total, int64_t(data.size()));
    QCOMPARE(last, int64_t(data.size()));
    QVERIFY(!backwards);
    // Cancelling from the upload progress stops the upload and stores nothing.
    client.OnUploadProgress = [](int64_t done, int64_t) { return done < Unit + 10; };
    QVERIFY(!client.UploadResumable(*Buffer(data), u"/p2.bin"_s, Unit));
    QCOMPARE(client.ErrorText(), u"Cancelled"_s);
    QCOMPARE(client.LastFailure(), TCloudFailure::Cancelled);
    QVERIFY(!FServer.Exists(u"/p2.bin"_s));
    const QByteArray big = Pattern(6 * 1024 * 1024, 8);
    client.OnUploadProgress = {};
    QVERIFY2(client.UploadResumable(*Buffer(big), u"/big.bin"_s, 10 * Unit), qPrintable(client.ErrorText()));
    client.OnDownloadProgress = [](int64_t done, int64_t) { return done < 1024 * 1024; };
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    QVERIFY(!client.DownloadFile(u"/big.bin"_s, sink));
    QCOMPARE(client.ErrorText(), u"Cancelled"_s);
    QVERIFY(client.WasCancelled());
    QVERIFY(sink.data().size() < big.size());
}

QTEST_GUILESS_MAIN(tst_OneDrive)
#include "tst_onedrive.moc"
