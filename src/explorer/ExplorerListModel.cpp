#include "explorer/ExplorerListModel.h"

#include "protocols/RemoteTransport.h"
#include "server/ExplorerController.h"

#include <utility>

namespace nodalis {

ExplorerListModel::ExplorerListModel(const QIcon& folderIcon, const QIcon& fileIcon, Renamer rename,
                                     QObject* parent)
    : QAbstractTableModel(parent), m_folderIcon(folderIcon), m_fileIcon(fileIcon),
      m_rename(std::move(rename))
{
}

QList<ExplorerRow> ExplorerListModel::rowsOf(const RemoteListing& listing)
{
    QList<ExplorerRow> rows;
    rows.reserve(listing.entries.size());
    for (const RemoteEntry& e : listing.entries)
        rows.append({e.Nom, e.TypeFD == RemoteEntry::Folder, e.size, e.Comment});
    return rows;
}

QList<ExplorerRow> ExplorerListModel::rowsOf(const QList<LocalEntry>& entries)
{
    QList<ExplorerRow> rows;
    rows.reserve(entries.size());
    for (const LocalEntry& e : entries) {
        rows.append({e.name, e.folder, e.size,
                     e.modified.isValid() ? e.modified.toString(u"dd/MM/yyyy HH:mm") : QString()});
    }
    return rows;
}

QString ExplorerListModel::visibleName(const QString& name)
{
    QString shown = name;
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            c = QChar(char16_t(0x2400 + u));
        else if (u == 0x7f)
            c = QChar(char16_t(0x2421));
    }
    return shown;
}

void ExplorerListModel::setRows(QList<ExplorerRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    ++m_resets;
    endResetModel();
}

int ExplorerListModel::rowOf(const QString& name) const
{
    for (qsizetype r = 0; r < m_rows.size(); ++r) {
        if (m_rows.at(r).name == name)
            return int(r);
    }
    return -1;
}

int ExplorerListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ExplorerListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ExplorerListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ExplorerRow& r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == Name)
            return visibleName(r.name);
        if (index.column() == Size)
            return r.folder ? QString() : QString::number(r.size);
        return r.detail;
    case Qt::EditRole:
        return index.column() == Name ? QVariant(r.name) : QVariant();
    case Qt::DecorationRole:
        if (index.column() == Name)
            return r.folder ? m_folderIcon : m_fileIcon;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == Size)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant ExplorerListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Name:
        return QStringLiteral("Nom");
    case Size:
        return QStringLiteral("Taille");
    case Detail:
        return QStringLiteral("Infos");
    default:
        return {};
    }
}

Qt::ItemFlags ExplorerListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    // Editing only ever starts from beginRename: the views have no edit trigger.
    if (index.isValid() && index.column() == Name && m_rows.at(index.row()).name != u"..")
        f |= Qt::ItemIsEditable;
    return f;
}

bool ExplorerListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != Name ||
        index.row() >= m_rows.size())
        return false;
    const QString from = m_rows.at(index.row()).name;
    const QString to = value.toString();
    if (to == from || !m_rename)
        return false;
    // The rename talks to the machine while events run: it waits until the
    // view has closed its editor. The row keeps the old name meanwhile; the
    // listing that follows a rename done brings the new one.
    const quint64 resets = m_resets;
    const int row = index.row();
    QMetaObject::invokeMethod(
        this,
        [this, from, to, resets, row] {
            if (!m_rename(from, to) && resets == m_resets && row < m_rows.size())
                emit dataChanged(this->index(row, Name), this->index(row, Name));
        },
        Qt::QueuedConnection);
    return true;
}

} // namespace nodalis
