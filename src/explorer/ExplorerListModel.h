#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QString>

#include <functional>

namespace nodalis {

class RemoteListing;
struct LocalEntry;

// One line of an explorer list, whichever side it comes from.
struct ExplorerRow
{
    QString name;
    bool folder = false;
    qint64 size = 0;
    QString detail; // the remote comment, the local date
};

// The entries of one side of the explorer: name, size, detail. The rows are a
// copy of the controller's, so that a view painting between a change of the
// controller's listing and its notice never reads past its end. The name
// column is editable for the in-place rename only: the edited name goes to
// the renamer, and a refused rename leaves the old name shown.
class ExplorerListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        Name,
        Size,
        Detail,
        ColumnCount
    };
    using Renamer = std::function<bool(const QString& from, const QString& to)>;

    ExplorerListModel(const QIcon& folderIcon, const QIcon& fileIcon, Renamer rename,
                      QObject* parent = nullptr);

    static QList<ExplorerRow> rowsOf(const RemoteListing& listing);
    static QList<ExplorerRow> rowsOf(const QList<LocalEntry>& entries);
    // A name as it can be shown on one line: control characters become their
    // visible pictures (U+2400...).
    static QString visibleName(const QString& name);

    // One model reset for the whole listing.
    void setRows(QList<ExplorerRow> rows);
    const ExplorerRow& row(int r) const { return m_rows.at(r); }
    // The row of that name; -1 when none.
    int rowOf(const QString& name) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    QList<ExplorerRow> m_rows;
    QIcon m_folderIcon;
    QIcon m_fileIcon;
    Renamer m_rename;
    quint64 m_resets = 0;
};

} // namespace nodalis
