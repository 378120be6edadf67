#include "engine/cursor.h"

#include <cstring>
#include <optional>

#include "engine/invariant.h"
#include "engine/settings.h"
#include "engine/status.h"

namespace kce {
namespace {

// Checks the cursor's bookkeeping when the call that changed it ends, whichever way it returns.
class StateCheck {
  public:
    explicit StateCheck(const TableCursor& cursor) : cursor_(cursor) {}
    ~StateCheck() {
        if constexpr (kInvariants) cursor_.CheckState();
    }
    StateCheck(const StateCheck&) = delete;
    StateCheck& operator=(const StateCheck&) = delete;

  private:
    const TableCursor& cursor_;
};

}  // namespace

KCESTATUS NaturalOrder::First(TableCursor& cursor, UNSIGNED32* recno) {
    return cursor.Store().NextRecno(0, recno);
}
KCESTATUS NaturalOrder::Last(TableCursor& cursor, UNSIGNED32* recno) {
    return cursor.Store().PrevRecno(0, recno);
}
KCESTATUS NaturalOrder::Next(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) {
    return cursor.Store().NextRecno(from, recno);
}
KCESTATUS NaturalOrder::Prev(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) {
    if (from == 0) {
        *recno = 0;
        return KCE_SUCCESS;
    }
    return cursor.Store().PrevRecno(from, recno);
}

TableCursor::TableCursor(std::shared_ptr<Storage> storage, UNSIGNED32 options, UNSIGNED16 charType,
                         KDSHANDLE connection)
    : storage_(std::move(storage)),
      options_(options),
      charType_(charType),
      connection_(connection),
      image_(storage_->Layout().recordLength),
      readImage_(storage_->Layout().recordLength) {
    const std::string& path = storage_->Path();
    size_t slash = path.rfind('/');
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
}

TableCursor::~TableCursor() { UnlockAll(); }

void TableCursor::CheckState() const {
    if constexpr (kInvariants) {
        const RecordLayout& layout = storage_->Layout();
        KCE_INVARIANT(image_.size() == layout.recordLength);
        // On a record exactly when a record number is held (a pending append holds its reserved
        // one); off a record nothing is marked deleted.
        KCE_INVARIANT(OnRecord() == (recno_ != 0));
        KCE_INVARIANT(OnRecord() || !deleted_);
        if (Pending()) {
            // A pending change is of the current record (an edit) or of the reserved one (an
            // append), never of a deleted record, and its image has the table's record length.
            KCE_INVARIANT(pendingImage_.size() == layout.recordLength);
            KCE_INVARIANT(pendingRecno_ != 0 && pendingRecno_ == recno_);
            KCE_INVARIANT(!deleted_);
        } else {
            KCE_INVARIANT(pendingRecno_ == 0);
            KCE_INVARIANT(pendingBlobs_.empty());
        }
        for (const auto& entry : pendingBlobs_) {
            KCE_INVARIANT(entry.first >= 0 && size_t(entry.first) < layout.fields.size());
            KCE_INVARIANT(IsBlobType(layout.fields[size_t(entry.first)].type));
        }
        // Record locks: an exclusive handle takes none; every lock this handle holds is entered in
        // the storage's table under this handle, and the table names this handle for no other.
        KCE_INVARIANT(!Exclusive() || locks_.empty());
        const auto& shared = storage_->Share().recordLocks;
        for (UNSIGNED32 recno : locks_) {
            auto it = shared.find(recno);
            KCE_INVARIANT(recno != 0 && it != shared.end() && it->second == this);
        }
        for (const auto& [recno, holder] : shared) {
            KCE_INVARIANT(holder != this || locks_.count(recno) == 1);
        }
    }
}

UNSIGNED32 TableCursor::Recno() const {
    if (Pending()) return pendingRecno_;
    return OnRecord() ? recno_ : 0;
}

const uint8_t* TableCursor::Image() const {
    if (Pending()) return pendingImage_.data();
    return OnRecord() ? image_.data() : nullptr;
}

void TableCursor::SetEof() {
    eof_ = true;
    bof_ = false;
    recno_ = 0;
    deleted_ = false;
}

void TableCursor::SetBof() {
    bof_ = true;
    eof_ = false;
    recno_ = 0;
    deleted_ = false;
}

void TableCursor::DiscardPending() {
    StateCheck check(*this);
    if (pending_ == PendingKind::kAppend) {
        // The reserved record never reached the table: the cursor stands after the last record.
        storage_->ReleaseRecno(pendingRecno_);
        SetEof();
    }
    pending_ = PendingKind::kNone;
    pendingRecno_ = 0;
    pendingBlobs_.clear();
}

KCESTATUS TableCursor::LoadRecord(UNSIGNED32 recno, bool* exists) {
    // A record asked for by number is read as stored now: only the walk of MoveFrom may take
    // rows from the storage's read-ahead.
    storage_->ForgetSnapshot();
    bool deleted = false;
    // Read aside: a read that fails halfway leaves the current record's image whole.
    if (KCESTATUS s = storage_->ReadRecord(recno, readImage_.data(), exists, &deleted)) return s;
    if (*exists) {
        image_.swap(readImage_);
        recno_ = recno;
        eof_ = bof_ = false;
        deleted_ = deleted;
    }
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Passes(UNSIGNED32 recno, const uint8_t* image, bool deleted, bool* ok) {
    *ok = true;
    if (deleted && storage_->HasDeletedMarks() && !CurrentSettings().showDeleted) {
        *ok = false;
        return KCE_SUCCESS;
    }
    if (!filter_) return KCE_SUCCESS;
    RecordView view{storage_->Layout(), image, recno, deleted, *storage_};
    return filter_->Accepts(view, ok);
}

KCESTATUS TableCursor::MoveFrom(Order& order, UNSIGNED32 start, bool forward, bool inclusive,
                                UNSIGNED32* found) {
    UNSIGNED32 candidate = start;
    bool takeStart = inclusive;
    for (;;) {
        if (!takeStart) {
            UNSIGNED32 next = 0;
            bool narrowed = false;
            // In record-number order a filter that knows its candidates (an index served it)
            // names the next one, so that records it rules out are never read.
            if (filter_ && &order == &natural_) {
                if (KCESTATUS s =
                        filter_->NextCandidate(*storage_, candidate, forward, &next, &narrowed))
                    return s;
            }
            KCESTATUS s = narrowed  ? KCESTATUS(KCE_SUCCESS)
                          : forward ? order.Next(*this, candidate, &next)
                                    : order.Prev(*this, candidate, &next);
            if (s) return s;
            if (next != 0 && next == candidate) {
                return Fail(KCE_INTERNAL_ERROR, "the order of table '" + Name() +
                                                    "' does not move from record " +
                                                    std::to_string(candidate));
            }
            candidate = next;
        }
        takeStart = false;
        if (candidate == 0) {
            *found = 0;
            return KCE_SUCCESS;
        }
        // Candidates are read aside: the cursor's image changes only when it lands, so a read
        // or filter that fails leaves the current record and its image together.
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage_->ReadRecord(candidate, readImage_.data(), &exists, &deleted))
            return s;
        if (!exists) continue;  // removed since the order listed it
        bool ok = false;
        if (KCESTATUS s = Passes(candidate, readImage_.data(), deleted, &ok)) return s;
        if (ok) {
            image_.swap(readImage_);
            recno_ = candidate;
            deleted_ = deleted;
            eof_ = bof_ = false;
            *found = candidate;
            return KCE_SUCCESS;
        }
    }
}

KCESTATUS TableCursor::GotoTop(Order& order) {
    StateCheck check(*this);
    DiscardPending();
    UNSIGNED32 first = 0, found = 0;
    if (KCESTATUS s = order.First(*this, &first)) return s;
    if (KCESTATUS s = MoveFrom(order, first, true, true, &found)) return s;
    if (!found) {
        SetEof();
        bof_ = true;
    }
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::GotoBottom(Order& order) {
    StateCheck check(*this);
    DiscardPending();
    UNSIGNED32 last = 0, found = 0;
    if (KCESTATUS s = order.Last(*this, &last)) return s;
    if (KCESTATUS s = MoveFrom(order, last, false, true, &found)) return s;
    if (!found) {
        SetEof();
        bof_ = true;
    }
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Skip(Order& order, SIGNED32 count) {
    StateCheck check(*this);
    DiscardPending();
    if (count == 0) return OnRecord() ? Refresh() : KCESTATUS(KCE_SUCCESS);
    bool forward = count > 0;
    int64_t steps = forward ? int64_t(count) : -int64_t(count);
    // A skip of several records that fails on the way goes back to where it started, as a
    // single step that fails never leaves it.
    struct Start {
        UNSIGNED32 recno;
        bool eof, bof, deleted;
        std::vector<uint8_t> image;
    };
    std::optional<Start> start;
    if (steps > 1) start = Start{recno_, eof_, bof_, deleted_, image_};
    auto failed = [&](KCESTATUS s) {
        if (start) {
            recno_ = start->recno;
            eof_ = start->eof;
            bof_ = start->bof;
            deleted_ = start->deleted;
            image_.swap(start->image);
        }
        return s;
    };
    for (int64_t i = 0; i < steps; ++i) {
        UNSIGNED32 found = 0;
        if (forward) {
            if (eof_) break;
            if (bof_) {
                UNSIGNED32 first = 0;
                if (KCESTATUS s = order.First(*this, &first)) return failed(s);
                if (KCESTATUS s = MoveFrom(order, first, true, true, &found)) return failed(s);
            } else if (KCESTATUS s = MoveFrom(order, recno_, true, false, &found)) {
                return failed(s);
            }
            if (!found) {
                SetEof();
                break;
            }
        } else {
            if (bof_) break;
            if (eof_) {
                UNSIGNED32 last = 0;
                if (KCESTATUS s = order.Last(*this, &last)) return failed(s);
                if (KCESTATUS s = MoveFrom(order, last, false, true, &found)) return failed(s);
            } else if (KCESTATUS s = MoveFrom(order, recno_, false, false, &found)) {
                return failed(s);
            }
            if (!found) {
                SetBof();
                break;
            }
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::GotoRecord(UNSIGNED32 recno) {
    StateCheck check(*this);
    DiscardPending();
    bool exists = false;
    if (recno != 0) {
        if (KCESTATUS s = LoadRecord(recno, &exists)) return s;
    }
    if (!exists) {
        SetEof();
        return Fail(KCE_INVALID_RECORD,
                    "record " + std::to_string(recno) + " of table '" + Name() + "'");
    }
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Land(UNSIGNED32 recno) {
    StateCheck check(*this);
    DiscardPending();
    bool exists = false;
    if (recno != 0) {
        if (KCESTATUS s = LoadRecord(recno, &exists)) return s;
    }
    if (!exists) SetEof();
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Visible(Order& order, bool* visible) {
    if (AppendPending()) {
        *visible = true;
        return KCE_SUCCESS;
    }
    if (!OnRecord()) return Fail(KCE_NO_CURRENT_RECORD, "table '" + Name() + "'");
    if (deleted_ && !storage_->HasDeletedMarks()) {
        *visible = false;
        return KCE_SUCCESS;
    }
    bool ok = false;
    if (KCESTATUS s = Passes(recno_, image_.data(), deleted_, &ok)) return s;
    if (ok) {
        if (KCESTATUS s = order.InScope(*this, recno_, image_.data(), deleted_, &ok)) return s;
    }
    *visible = ok;
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Refresh() {
    StateCheck check(*this);
    if (!OnRecord() || AppendPending()) {
        return Fail(KCE_NO_CURRENT_RECORD, "table '" + Name() + "'");
    }
    DiscardPending();
    bool exists = false;
    UNSIGNED32 recno = recno_;
    if (KCESTATUS s = LoadRecord(recno, &exists)) return s;
    if (!exists) deleted_ = true;  // removed by another handle: the cursor keeps its place
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Count(Order& order, UNSIGNED16 option, UNSIGNED32* count) {
    UNSIGNED16 which = option & 3;
    bool respectFilter = which == KCE_RESPECT_FILTERS;
    bool respectScope = respectFilter || which == KCE_RESPECT_SCOPES;
    bool natural = &order == &natural_;
    bool hidesDeleted = storage_->HasDeletedMarks() && !CurrentSettings().showDeleted;
    if ((!respectFilter || !filter_) && (!respectScope || natural) && !hidesDeleted) {
        return storage_->RecordCount(count);
    }
    // Walk the order without moving the cursor.
    std::vector<uint8_t> image(storage_->Layout().recordLength);
    UNSIGNED32 n = 0, recno = 0;
    Order& walk = respectScope ? order : static_cast<Order&>(natural_);
    bool narrowed = false;
    if (respectFilter && filter_ && &walk == &natural_) {
        if (KCESTATUS s = filter_->NextCandidate(*storage_, 0, true, &recno, &narrowed)) return s;
    }
    if (!narrowed) {
        if (KCESTATUS s = walk.First(*this, &recno)) return s;
    }
    while (recno != 0) {
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage_->ReadRecord(recno, image.data(), &exists, &deleted)) return s;
        if (exists) {
            bool ok = true;
            if (respectFilter) {
                if (KCESTATUS s = Passes(recno, image.data(), deleted, &ok)) return s;
            } else if (deleted && hidesDeleted) {
                ok = false;
            }
            if (ok) ++n;
        }
        UNSIGNED32 next = 0;
        if (narrowed) {
            if (KCESTATUS s = filter_->NextCandidate(*storage_, recno, true, &next, &narrowed))
                return s;
        } else if (KCESTATUS s = walk.Next(*this, recno, &next)) {
            return s;
        }
        if (next == recno) break;
        recno = next;
    }
    *count = n;
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::CheckWritable() {
    if (storage_->StaticResult()) {
        return Fail(KCE_STATIC_CURSOR, "table '" + Name() + "' is an SQL result set");
    }
    if (ReadOnly()) return Fail(KCE_TABLE_READ_ONLY, "table '" + Name() + "'");
    if (!storage_->Writable()) {
        return Fail(KCE_TABLE_READ_ONLY, "table '" + Name() + "': the file cannot be written");
    }
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Append() {
    StateCheck check(*this);
    if (KCESTATUS s = CheckWritable()) return s;
    DiscardPending();
    UNSIGNED32 recno = 0;
    if (KCESTATUS s = storage_->ReserveRecno(&recno)) return s;
    pendingImage_.assign(storage_->Layout().recordLength, 0);
    storage_->NullRecord(pendingImage_.data());
    pending_ = PendingKind::kAppend;
    pendingRecno_ = recno;
    eof_ = bof_ = false;
    deleted_ = false;
    recno_ = recno;
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::BeginEdit() {
    if (Pending()) return KCE_SUCCESS;
    if (KCESTATUS s = CheckWritable()) return s;
    if (!OnRecord() || deleted_) {
        return Fail(KCE_NO_CURRENT_RECORD, "table '" + Name() + "': nothing to change");
    }
    // The edit starts from the record as it is stored now, not as this handle last read it.
    bool exists = false;
    UNSIGNED32 recno = recno_;
    if (KCESTATUS s = LoadRecord(recno, &exists)) return s;
    if (!exists) {
        deleted_ = true;
        return Fail(KCE_INVALID_RECORD, "record " + std::to_string(recno) + " of table '" + Name() +
                                            "' no longer exists");
    }
    pendingImage_ = image_;
    pending_ = PendingKind::kEdit;
    pendingRecno_ = recno_;
    pendingBlobs_.clear();
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::SetRaw(int field, const uint8_t* bytes, UNSIGNED32 len) {
    StateCheck check(*this);
    const FieldDesc& f = storage_->Layout().fields[field];
    if (IsBlobType(f.type)) {
        return Fail(KCE_NOT_SUPPORTED, "field '" + f.name + "' of table '" + Name() +
                                           "' is a memo or blob field: set it with KdsSetField");
    }
    if (len != f.length) {
        return Fail(KCE_WRONG_RECORD_LENGTH, "field '" + f.name + "' of table '" + Name() +
                                                 "' takes " + std::to_string(f.length) +
                                                 " bytes, " + std::to_string(len) + " given");
    }
    if (!bytes) return Fail(KCE_INVALID_ARGUMENT, "no value given");
    if (KCESTATUS s = storage_->CheckRaw(field, bytes)) return s;
    if (KCESTATUS s = BeginEdit()) return s;
    std::memcpy(pendingImage_.data() + f.offset, bytes, f.length);
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::SetText(int field, std::string_view text) {
    StateCheck check(*this);
    const FieldDesc& f = storage_->Layout().fields[field];
    if (KCESTATUS s = BeginEdit()) return s;
    if (IsBlobType(f.type)) {
        BlobValue& v = pendingBlobs_[field];
        v.isNull = text.empty();
        v.bytes = std::string(text);
        StoreU32(pendingImage_.data() + f.offset, text.empty() ? 0 : 0xFFFFFFFFu);
        return KCE_SUCCESS;
    }
    // Converted aside, so that a refused text leaves the field as it was; only the field's bytes
    // travel, not the whole image.
    fieldScratch_.resize(pendingImage_.size());
    std::memcpy(fieldScratch_.data() + f.offset, pendingImage_.data() + f.offset, f.length);
    if (KCESTATUS s = storage_->FieldFromText(field, text, fieldScratch_.data())) return s;
    std::memcpy(pendingImage_.data() + f.offset, fieldScratch_.data() + f.offset, f.length);
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::SetEmpty(int field) {
    StateCheck check(*this);
    const FieldDesc& f = storage_->Layout().fields[field];
    if (KCESTATUS s = BeginEdit()) return s;
    if (IsBlobType(f.type)) {
        pendingBlobs_[field] = BlobValue();
        StoreU32(pendingImage_.data() + f.offset, 0);
        return KCE_SUCCESS;
    }
    storage_->WriteNull(field, pendingImage_.data());
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Write() {
    StateCheck check(*this);
    if (!Pending()) return KCE_SUCCESS;  // nothing changed (also after a delete)
    if (KCESTATUS s = CheckWritable()) return s;
    bool isNew = pending_ == PendingKind::kAppend;
    UNSIGNED32 recno = pendingRecno_;
    if (!isNew && LockedByOther(recno)) {
        return Fail(KCE_RECORD_LOCKED,
                    "record " + std::to_string(recno) + " of table '" + Name() + "'");
    }
    if (KCESTATUS s = storage_->WriteRecord(&recno, isNew, pendingImage_.data(), pendingBlobs_))
        return s;
    image_ = pendingImage_;
    recno_ = recno;
    eof_ = bof_ = false;
    deleted_ = false;
    pending_ = PendingKind::kNone;
    pendingRecno_ = 0;
    pendingBlobs_.clear();
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Cancel() {
    StateCheck check(*this);
    if (!Pending()) return Fail(KCE_NO_UPDATE_PENDING, "table '" + Name() + "'");
    DiscardPending();
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Delete() {
    StateCheck check(*this);
    if (AppendPending()) {
        DiscardPending();
        return KCE_SUCCESS;
    }
    if (KCESTATUS s = CheckWritable()) return s;
    if (!OnRecord()) return Fail(KCE_NO_CURRENT_RECORD, "table '" + Name() + "'");
    if (deleted_ && !storage_->HasDeletedMarks()) {
        return Fail(KCE_INVALID_RECORD, "record " + std::to_string(recno_) + " of table '" +
                                            Name() + "' is already deleted");
    }
    if (LockedByOther(recno_)) {
        return Fail(KCE_RECORD_LOCKED,
                    "record " + std::to_string(recno_) + " of table '" + Name() + "'");
    }
    DiscardPending();
    if (KCESTATUS s = storage_->DeleteRecord(recno_)) return s;
    deleted_ = true;
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Blob(int field, BlobValue* out) {
    if (Pending()) {
        auto it = pendingBlobs_.find(field);
        if (it != pendingBlobs_.end()) {
            *out = it->second;
            return KCE_SUCCESS;
        }
        if (AppendPending()) {
            *out = BlobValue();
            return KCE_SUCCESS;
        }
    }
    if (!OnRecord()) return Fail(KCE_NO_CURRENT_RECORD, "table '" + Name() + "'");
    if (deleted_ && !storage_->HasDeletedMarks()) {
        return Fail(KCE_NO_CURRENT_RECORD,
                    "record " + std::to_string(recno_) + " of table '" + Name() + "' is deleted");
    }
    return storage_->ReadBlob(recno_, field, out);
}

bool TableCursor::LockedByOther(UNSIGNED32 recno) {
    if (Exclusive()) return false;
    auto& locks = storage_->Share().recordLocks;
    auto it = locks.find(recno);
    if (it != locks.end() && it->second != this) return true;
    return storage_->Locks().RecordLockedElsewhere(recno);
}

KCESTATUS TableCursor::Lock(UNSIGNED32 recno) {
    StateCheck check(*this);
    if (storage_->StaticResult()) {
        return Fail(KCE_STATIC_CURSOR, "table '" + Name() + "' is an SQL result set");
    }
    if (Exclusive()) return KCE_SUCCESS;
    if (recno == 0) return Fail(KCE_INVALID_RECORD, "record 0 of table '" + Name() + "'");
    if (locks_.count(recno)) return KCE_SUCCESS;
    auto& locks = storage_->Share().recordLocks;
    std::string what = "record " + std::to_string(recno) + " of table '" + Name() + "'";
    if (locks.count(recno)) return Fail(KCE_RECORD_LOCKED, what + " (by another handle)");
    if (!storage_->Locks().LockRecord(recno)) {
        return Fail(KCE_RECORD_LOCKED, what + " (by another process)");
    }
    locks[recno] = this;
    locks_.insert(recno);
    // A locked record is read again: what another user wrote before the lock counts.
    if (OnRecord() && !Pending() && recno_ == recno) {
        bool exists = false;
        if (KCESTATUS s = LoadRecord(recno, &exists)) return s;
        if (!exists) deleted_ = true;
    }
    return KCE_SUCCESS;
}

KCESTATUS TableCursor::Unlock(UNSIGNED32 recno) {
    StateCheck check(*this);
    if (Exclusive()) return KCE_SUCCESS;
    if (!locks_.count(recno)) {
        return Fail(KCE_RECORD_NOT_LOCKED,
                    "record " + std::to_string(recno) + " of table '" + Name() + "'");
    }
    locks_.erase(recno);
    storage_->Share().recordLocks.erase(recno);
    storage_->Locks().UnlockRecord(recno);
    return KCE_SUCCESS;
}

void TableCursor::UnlockAll() {
    StateCheck check(*this);
    for (UNSIGNED32 recno : locks_) {
        storage_->Share().recordLocks.erase(recno);
        storage_->Locks().UnlockRecord(recno);
    }
    locks_.clear();
}

KCESTATUS ResolveCursor(KDSHANDLE handle, HandleObject* obj, TableCursor** cursor, Order** order) {
    if (!obj) return Fail(KCE_INVALID_HANDLE, "table handle " + std::to_string(handle));
    // Every object that answers KCE_HANDLE_TABLE is a TableCursor (see handles.h): the cast
    // needs no run-time check on this path, which every record and field call takes.
    if (obj->HandleType() == KCE_HANDLE_TABLE) {
        auto* table = static_cast<TableCursor*>(obj);
        *order = &table->Natural();
        *cursor = table;
    } else if (auto* index = dynamic_cast<OrderHandle*>(obj)) {
        *cursor = &index->Cursor();
        *order = &index->GetOrder();
    } else {
        return Fail(KCE_WRONG_HANDLE_TYPE,
                    "handle " + std::to_string(handle) + " is not a table or index handle");
    }
    return KCE_SUCCESS;
}

}  // namespace kce
