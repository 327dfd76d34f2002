#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

#include <functional>

class HttpProbe;
class HttpSession;
struct ProbeAnswer;

// Every web link in a text (pasted, dropped, or read from a file): the words of it that are
// http(s) links, each once, in order.
QStringList webLinksInText(const QString &text);

// The file name a probe's answer gives a link: the suggested name, the server's, the redirect's,
// the link's own, as for one link in the add dialog.
QString probedFileName(const ProbeAnswer &answer, const QUrl &asked, const QString &suggested,
                       bool isVid);

// The links of one add dialog when there are several: one row each with its name, size and
// category as its probe found them, and a check box. Probes run a few at a time in the order of
// the rows; a probe that gets no answer gives up after a while, so a slow server cannot hold the
// rest back. Rows are plain values in a table model, so that hundreds of links stay light.
class LinkBatch : public QAbstractTableModel {
    Q_OBJECT

public:
    struct Row {
        QString url;
        QString name;    // as the probe found it; from the link until then
        QString path;    // the category folder and the name
        qint64 size = 0; // 0 when unknown
        QString note;    // why the size is not known (a refusal, a login, an error status)
        bool checked = true;
        bool probed = false;
        bool isVid = false;
    };
    enum Column { NameColumn, SizeColumn, CategoryColumn, LinkColumn, ColumnCount };

    LinkBatch(HttpSession *session, QObject *parent);

    // Probes at most this many links at once; tests may lower it.
    static int maxProbes;
    // A probe without an answer for this long leaves its row with an unknown size.
    static int probeTimeoutMs;

    // Adds a row for each web link not yet listed; `suggestedName` and `announcedSize` (from the
    // browser) describe the first of them. Returns how many were added.
    int addLinks(const QStringList &links, const QString &suggestedName = QString(),
                 qint64 announcedSize = 0);
    const QList<Row> &rows() const { return m_rows; }
    QList<Row> checkedRows() const;
    int checkedCount() const;
    // Probes under way.
    int probesInFlight() const { return int(m_busy.size()); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

signals:
    // The rows or their check boxes changed.
    void countsChanged();

private:
    void pump();
    void onAnswer(HttpProbe *probe, const ProbeAnswer &answer);
    void setPath(Row &row, const QString &name);

    HttpSession *m_session;
    QList<Row> m_rows;
    QList<HttpProbe *> m_idle;
    QHash<HttpProbe *, int> m_busy; // probe -> row
    int m_next = 0;                 // the first row never probed
    QString m_suggestedName;        // for the first row
    qint64 m_announcedSize = 0;
};

// Where each of `rows` goes: a name `taken` claims (a file, a listed download) is numbered as for
// one link when `renumberTaken`, else that row is left out (an empty path); rows of the list with
// the same name are numbered apart without asking.
QStringList batchTargets(const QList<LinkBatch::Row> &rows,
                         const std::function<bool(const QString &)> &taken, bool renumberTaken);
