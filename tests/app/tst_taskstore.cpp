#include "app/taskstore.h"
#include "engine/downloadtask.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

class TestTaskStore : public QObject {
    Q_OBJECT

private slots:
    void roundTrip();
    void emptyListIsAnEmptyArray();
    void unreadableListIsKeptAside_data();
    void unreadableListIsKeptAside();

private:
    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString &path, const QByteArray &data)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
};

void TestTaskStore::roundTrip()
{
    QTemporaryDir dir;
    const qint64 big = 5LL * 1024 * 1024 * 1024 + 7; // above 2^32
    QObject owner;
    QList<DownloadTask *> tasks;
    const int statuses[] = {1, 0, 2, 3, 4};
    for (int i = 0; i < 5; ++i) {
        auto *t = new DownloadTask(QUrl(QStringLiteral("http://example.org/a b/f%1.iso").arg(i)),
                                   dir.path() + QStringLiteral("/f%1.iso").arg(i),
                                   i == 0 ? QStringLiteral("720") : QString(), &owner);
        t->status = statuses[i];
        t->totalSize = big + i;
        t->downloadedSize = big - i;
        tasks.append(t);
    }
    TaskStore store(dir.path() + QStringLiteral("/Torvane"));
    QVERIFY(store.save(tasks));

    // Six members per object, exactly; a running task is written paused.
    const QJsonArray array = QJsonDocument::fromJson(readAll(store.listPath())).array();
    QCOMPARE(array.size(), 5);
    for (const QJsonValue &v : array) {
        QStringList keys = v.toObject().keys();
        keys.sort();
        QCOMPARE(keys, QStringList(
                           {"downloadedSize", "format", "savePath", "status", "totalSize", "url"}));
    }
    QCOMPARE(array.at(0).toObject().value("status").toInt(), 0);
    QCOMPARE(array.at(0).toObject().value("url").toString(),
             QStringLiteral("http://example.org/a b/f0.iso"));

    TaskStore again(store.directory());
    const QList<SavedTask> loaded = again.load();
    QCOMPARE(loaded.size(), 5);
    const int expected[] = {0, 0, 2, 3, 4};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(loaded[i].status, expected[i]);
        QCOMPARE(loaded[i].totalSize, big + i);
        QCOMPARE(loaded[i].downloadedSize, big - i);
        QCOMPARE(loaded[i].savePath, tasks[i]->savePath());
        QCOMPARE(QUrl(loaded[i].url), tasks[i]->url());
    }
    QCOMPARE(loaded[0].format, QStringLiteral("720"));
    // No temporary files left behind by the atomic writes.
    QCOMPARE(QDir(store.directory()).entryList(QDir::Files),
             QStringList({"tasks.json", "transfers.json"}));
}

void TestTaskStore::emptyListIsAnEmptyArray()
{
    QTemporaryDir dir;
    TaskStore store(dir.path() + QStringLiteral("/nested/Torvane"));
    QVERIFY(store.save({}));
    const QJsonDocument doc = QJsonDocument::fromJson(readAll(store.listPath()));
    QVERIFY(doc.isArray());
    QVERIFY(doc.array().isEmpty());
    QVERIFY(TaskStore(store.directory()).load().isEmpty());
}

void TestTaskStore::unreadableListIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("keptAside");
    QTest::newRow("truncated") << QByteArray("[{\"url\": \"http://x/y.zip\", \"sta") << true;
    QTest::newRow("object instead of array") << QByteArray("{\"url\": \"http://x\"}") << true;
    QTest::newRow("empty file") << QByteArray() << false;
}

void TestTaskStore::unreadableListIsKeptAside()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, keptAside);
    QTemporaryDir dir;
    TaskStore store(dir.path());
    write(store.listPath(), content);

    QVERIFY(store.load().isEmpty());
    // Loading alone leaves the file untouched.
    QCOMPARE(readAll(store.listPath()), content);

    QVERIFY(store.save({}));
    QVERIFY(QJsonDocument::fromJson(readAll(store.listPath())).isArray());
    const QStringList aside =
        QDir(dir.path()).entryList({QStringLiteral("tasks.json.unreadable-*")}, QDir::Files);
    QCOMPARE(aside.size(), keptAside ? 1 : 0);
    if (keptAside) {
        QCOMPARE(readAll(dir.path() + QLatin1Char('/') + aside.first()), content);
        QCOMPARE(store.keptAsidePath(), dir.path() + QLatin1Char('/') + aside.first());
        // Only once: the list written now is readable.
        QVERIFY(store.save({}));
        QCOMPARE(QDir(dir.path())
                     .entryList({QStringLiteral("tasks.json.unreadable-*")}, QDir::Files)
                     .size(),
                 1);
    }
}

QTEST_GUILESS_MAIN(TestTaskStore)
#include "tst_taskstore.moc"
