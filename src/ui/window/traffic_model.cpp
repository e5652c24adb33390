#include "window/traffic_model.h"

#include "session/traffic_format.h"

#include <QColor>
#include <algorithm>

namespace mc {

namespace {

QString text(const std::string& bytes) {
    return QString::fromStdString(bytes);
}

// Latin-1 keeps every byte one character; the visible form is ASCII anyway.
QString visible(const std::string& bytes) {
    return QString::fromLatin1(visibleBytes(bytes));
}

const QColor kErrorText(0x9c, 0x00, 0x06);
const QColor kErrorBackground(0xff, 0xc7, 0xce);
const QColor kEventText(0x1f, 0x3a, 0x93);
const QColor kQuietText(0x6e, 0x6e, 0x6e);

} // namespace

TrafficModel::TrafficModel(TrafficLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log), shownFirst_(log.firstSerial()), shownNext_(log.nextSerial()),
      pendingShown_(log.hasPending()), pendingVersion_(log.pendingVersion()) {
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : finishedCount() + (pendingShown_ ? 1 : 0);
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const TrafficRow* TrafficModel::rowAt(int row) const {
    if (frozen_) {
        return row < static_cast<int>(frozenRows_.size()) ? &frozenRows_[static_cast<std::size_t>(row)] : nullptr;
    }
    if (row < finishedCount()) {
        return log_.rowBySerial(shownFirst_ + static_cast<std::uint64_t>(row));
    }
    return log_.hasPending() ? &log_.pending() : nullptr;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const TrafficRow* row = rowAt(index.row());
    if (row == nullptr) {
        return {};
    }
    const bool event = row->direction == TrafficDirection::Event;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case TimeColumn:
            return text(formatTrafficTime(row->time));
        case DirectionColumn:
            return QString::fromLatin1(trafficDirectionName(row->direction));
        case LinkColumn:
            return text(row->link);
        case TextColumn:
            return event ? text(row->bytes) : visible(row->bytes);
        case MarkColumn:
            return text(row->mark.text);
        default:
            return {};
        }
    case Qt::ForegroundRole:
        switch (row->mark.kind) {
        case TrafficMarkKind::Error:
            return kErrorText;
        case TrafficMarkKind::Event:
            return kEventText;
        case TrafficMarkKind::Ignored:
            return kQuietText;
        default:
            return row->direction == TrafficDirection::Pending ? QVariant(kQuietText) : QVariant();
        }
    case Qt::BackgroundRole:
        return row->mark.kind == TrafficMarkKind::Error ? QVariant(kErrorBackground) : QVariant();
    case kLineRole:
        return text(formatTrafficRow(*row));
    case kBytesRole:
        return QByteArray(row->bytes.data(), static_cast<qsizetype>(row->bytes.size()));
    case kMarkKindRole:
        return static_cast<int>(row->mark.kind);
    case kDirectionRole:
        return static_cast<int>(row->direction);
    default:
        return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case DirectionColumn:
        return tr("Direction");
    case LinkColumn:
        return tr("Link");
    case TextColumn:
        return tr("Text");
    case MarkColumn:
        return tr("Mark");
    default:
        return {};
    }
}

void TrafficModel::setFrozen(bool frozen) {
    if (frozen == frozen_) {
        return;
    }
    if (frozen) {
        frozenRows_.clear();
        frozenRows_.reserve(static_cast<std::size_t>(rowCount()));
        for (int row = 0; row < rowCount(); ++row) {
            const TrafficRow* shown = rowAt(row);
            frozenRows_.push_back(shown != nullptr ? *shown : TrafficRow{});
        }
        frozen_ = true;
        return;
    }
    frozen_ = false;
    frozenRows_ = {};
    sync();
}

void TrafficModel::sync() {
    if (frozen_) {
        return;
    }
    const std::uint64_t first = log_.firstSerial();
    const std::uint64_t next = log_.nextSerial();

    // Rows that fell off the front.
    const std::uint64_t gone =
        std::min(first, shownNext_) > shownFirst_ ? std::min(first, shownNext_) - shownFirst_ : 0;
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        shownFirst_ += gone;
        endRemoveRows();
    }
    if (shownFirst_ == shownNext_) {
        // Nothing left in view: start again at what the log keeps.
        shownFirst_ = shownNext_ = std::max(shownNext_, first);
    }

    // New rows go in before the pending row.
    if (next > shownNext_) {
        const int at = finishedCount();
        beginInsertRows({}, at, at + static_cast<int>(next - shownNext_) - 1);
        shownNext_ = next;
        endInsertRows();
    }

    const bool pending = log_.hasPending();
    const int pendingRow = finishedCount();
    if (pending && !pendingShown_) {
        beginInsertRows({}, pendingRow, pendingRow);
        pendingShown_ = true;
        endInsertRows();
    } else if (!pending && pendingShown_) {
        beginRemoveRows({}, pendingRow, pendingRow);
        pendingShown_ = false;
        endRemoveRows();
    } else if (pending && pendingVersion_ != log_.pendingVersion()) {
        emit dataChanged(index(pendingRow, 0), index(pendingRow, ColumnCount - 1));
    }
    pendingVersion_ = log_.pendingVersion();
}

void TrafficModel::clear() {
    beginResetModel();
    log_.clear();
    frozenRows_.clear();
    shownFirst_ = shownNext_ = log_.nextSerial();
    pendingShown_ = false;
    pendingVersion_ = log_.pendingVersion();
    endResetModel();
}

} // namespace mc
