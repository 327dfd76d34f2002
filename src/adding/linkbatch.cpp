#include "adding/linkbatch.h"

#include "adding/categoryfolder.h"
#include "adding/filenames.h"
#include "engine/categories.h"
#include "engine/http/httpprobe.h"
#include "engine/http/weblink.h"
#include "engine/http/webpageanswer.h"
#include "language/translation.h"
#include "views/sizetext.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

int LinkBatch::maxProbes = 4;
int LinkBatch::probeTimeoutMs = 20000;

QStringList webLinksInText(const QString &text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    QStringList links;
    QSet<QString> seen;
    for (const QString &word : text.split(space, Qt::SkipEmptyParts)) {
        if (isWebLink(word) && !seen.contains(word)) {
            seen.insert(word);
            links.append(word);
        }
    }
    return links;
}

QString probedFileName(const ProbeAnswer &answer, const QUrl &asked, const QString &suggested,
                       bool isVid)
{
    ProbeNameInput in;
    in.defaultName = suggested;
    in.linkName = nameFromLink(asked);
    in.isVid = isVid;
    in.nowMs = QDateTime::currentMSecsSinceEpoch();
    if (answer.finalUrl.isValid() && answer.finalUrl != asked) {
        const QString path = answer.finalUrl.path(QUrl::FullyDecoded);
        in.redirectName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    }
    in.hasContentDisposition = !answer.contentDisposition.isNull();
    in.contentDisposition = QString::fromUtf8(answer.contentDisposition);
    in.hasContentType = !answer.contentType.isNull();
    in.contentType = QString::fromUtf8(answer.contentType);
    return probeFileName(in);
}

LinkBatch::LinkBatch(HttpSession *session, QObject *parent)
    : QAbstractTableModel(parent), m_session(session)
{
}

void LinkBatch::setPath(Row &row, const QString &name)
{
    row.name = name;
    row.path = categoryFolder(name) + QLatin1Char('/') + name;
    // The media tool saves a video as mp4 unless told otherwise.
    if (row.isVid)
        row.path = withFormatExtension(row.path, QStringLiteral("best"));
}

int LinkBatch::addLinks(const QStringList &links, const QString &suggestedName,
                        qint64 announcedSize)
{
    QSet<QString> listed;
    for (const Row &row : std::as_const(m_rows))
        listed.insert(row.url);
    QList<Row> added;
    for (const QString &link : links) {
        const QString url = link.trimmed();
        if (!isWebLink(url) || listed.contains(url))
            continue;
        listed.insert(url);
        Row row;
        row.url = url;
        row.isVid = containsMediaHost(url);
        // Until its probe answers, a row shows the name its link carries (or, without one, the
        // name a download without any gets), so that even a row never probed has a sound path.
        setPath(row,
                probedFileName(ProbeAnswer(), QUrl(url, QUrl::TolerantMode), QString(), row.isVid));
        added.append(row);
    }
    if (added.isEmpty())
        return 0;
    if (m_rows.isEmpty()) {
        m_suggestedName = suggestedName;
        m_announcedSize = announcedSize;
    }
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size() + added.size() - 1));
    m_rows.append(added);
    endInsertRows();
    emit countsChanged();
    pump();
    return int(added.size());
}

QList<LinkBatch::Row> LinkBatch::checkedRows() const
{
    QList<Row> chosen;
    for (const Row &row : m_rows)
        if (row.checked)
            chosen.append(row);
    return chosen;
}

int LinkBatch::checkedCount() const
{
    return int(
        std::count_if(m_rows.cbegin(), m_rows.cend(), [](const Row &row) { return row.checked; }));
}

// Hands the next rows to free probes; each probe is reused for the next row once it answered.
void LinkBatch::pump()
{
    while (m_next < m_rows.size() && m_busy.size() < maxProbes) {
        HttpProbe *probe = m_idle.isEmpty() ? nullptr : m_idle.takeLast();
        if (!probe) {
            probe = new HttpProbe(m_session, this);
            connect(probe, &HttpProbe::answered, this,
                    [this, probe](const ProbeAnswer &answer) { onAnswer(probe, answer); });
        }
        const int row = m_next++;
        m_busy.insert(probe, row);
        probe->send(QUrl(m_rows.at(row).url, QUrl::TolerantMode), probeTimeoutMs);
    }
}

void LinkBatch::onAnswer(HttpProbe *probe, const ProbeAnswer &answer)
{
    const int index = m_busy.take(probe);
    m_idle.append(probe);
    Row &row = m_rows[index];
    const QUrl asked(row.url, QUrl::TolerantMode);
    setPath(row,
            probedFileName(answer, asked, index == 0 ? m_suggestedName : QString(), row.isVid));
    const qint64 announced = index == 0 ? m_announcedSize : 0;
    const bool page = !row.isVid && answer.refused.isNull() && answer.status < 400 &&
                      isPageInsteadOfFile(answer.contentType, row.name);
    if (!answer.refused.isNull())
        row.note = answer.refused.reason;
    else if (!answer.login.isNull())
        row.note = T(QStringLiteral("Login required"));
    else if (answer.status == 0 || answer.status >= 400)
        row.note = answer.status == 0 ? T(QStringLiteral("No answer"))
                                      : QStringLiteral("HTTP %1").arg(answer.status);
    else if (page)
        row.note = T(QStringLiteral("A web page"));
    // Nothing a refusing or failing server said is taken for the file's size.
    row.size = announced > 0 ? announced : row.note.isEmpty() && !row.isVid ? answer.total : 0;
    row.probed = true;
    emit dataChanged(this->index(index, 0), this->index(index, ColumnCount - 1));
    pump();
}

int LinkBatch::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LinkBatch::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LinkBatch::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    if (role == Qt::CheckStateRole && index.column() == NameColumn)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::ToolTipRole)
        return row.note.isEmpty() ? row.path : row.note;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case NameColumn: return row.name;
    case SizeColumn:
        if (!row.probed)
            return T(QStringLiteral("Fetching..."));
        if (!row.note.isEmpty())
            return row.note;
        return row.size > 0 ? mbText(row.size) + QStringLiteral(" MB")
                            : T(QStringLiteral("Unknown"));
    case CategoryColumn: return T(categoryForFileName(row.name));
    case LinkColumn: return row.url;
    default: return {};
    }
}

QVariant LinkBatch::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    const char *const titles[] = {"File name", "Size", "Category", "Link"};
    return section >= 0 && section < ColumnCount ? T(QLatin1String(titles[section])) : QVariant();
}

Qt::ItemFlags LinkBatch::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() == NameColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool LinkBatch::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != NameColumn)
        return false;
    m_rows[index.row()].checked = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit countsChanged();
    return true;
}

QStringList batchTargets(const QList<LinkBatch::Row> &rows,
                         const std::function<bool(const QString &)> &taken, bool renumberTaken)
{
    QSet<QString> ours; // the names this list has given out so far
    const auto claimed = [&](const QString &p) {
        return taken(p) || ours.contains(p);
    };
    QStringList paths;
    for (const LinkBatch::Row &row : rows) {
        const QString path =
            renumberTaken || !taken(row.path) ? numberedFreePath(row.path, claimed) : QString();
        if (!path.isEmpty())
            ours.insert(path);
        paths.append(path);
    }
    return paths;
}
