// Navigation over the record window: First, Last, Skip, refilling around the cursor's record,
// and bookmarks.
#include <algorithm>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"

namespace db {

void TDataSet::First() {
    EnsureBrowseMode();
    FireBeforeScroll();
    ResetBufferWindow();
    try {
        CursorFirst();
        FetchNext();
        FillForward();
    } catch (...) {
        atBOF_ = true;
        NotifyDataEvent(DataEventCode::DataSetChange);
        FireAfterScroll();
        throw;
    }
    atBOF_ = true;
    NotifyDataEvent(DataEventCode::DataSetChange);
    FireAfterScroll();
    CheckStateInvariants();
}

void TDataSet::Last() {
    EnsureBrowseMode();
    FireBeforeScroll();
    ResetBufferWindow();
    try {
        CursorLast();
        FetchPrior();
        FillBackward();
    } catch (...) {
        atEOF_ = true;
        NotifyDataEvent(DataEventCode::DataSetChange);
        FireAfterScroll();
        throw;
    }
    atEOF_ = true;
    NotifyDataEvent(DataEventCode::DataSetChange);
    FireAfterScroll();
    CheckStateInvariants();
}

int TDataSet::Skip(int distance) {
    EnsureBrowseMode();
    FireBeforeScroll();
    if (distance == 0 || (distance > 0 && atEOF_) || (distance < 0 && atBOF_)) return 0;
    atBOF_ = false;
    atEOF_ = false;
    int previousFilled = filledCount_;
    int scrolled = 0;
    int moved = 0;
    auto finish = [&] {
        if (filledCount_ == previousFilled) {
            NotifyDataEvent(DataEventCode::DataSetScroll, &scrolled);
        } else {
            NotifyDataEvent(DataEventCode::DataSetChange);
        }
        FireAfterScroll();
    };
    try {
        while (distance > 0) {
            if (activeIndex_ < filledCount_ - 1) {
                ++activeIndex_;
            } else {
                bool wasFull = filledCount_ == windowSize_;
                if (!FetchNext()) {
                    atEOF_ = true;
                    break;
                }
                if (wasFull) --scrolled;
                // A window that grew keeps the record where it was; step onto the new one.
                if (activeIndex_ < filledCount_ - 1) ++activeIndex_;
            }
            --distance;
            ++moved;
        }
        while (distance < 0) {
            if (activeIndex_ > 0) {
                --activeIndex_;
            } else {
                bool wasFull = filledCount_ == windowSize_;
                if (!FetchPrior()) {
                    atBOF_ = true;
                    break;
                }
                if (wasFull) ++scrolled;
                if (activeIndex_ > 0) --activeIndex_;
            }
            ++distance;
            --moved;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    CheckStateInvariants();
    return moved;
}

void TDataSet::RefillBuffers(const TResyncMode& mode) {
    TRecordBuffer scratch = buffers_[filledCount_];
    if (mode.count(rmExact)) {
        ForgetCursorPosition();
        if (FetchRecord(scratch, FetchMode::Current, true) != FetchResult::OK) {
            Error(std::string(msg::kRecordNotFound));
        }
    } else if (FetchRecord(scratch, FetchMode::Current, false) != FetchResult::OK &&
               FetchRecord(scratch, FetchMode::Next, false) != FetchResult::OK &&
               FetchRecord(scratch, FetchMode::Prior, false) != FetchResult::OK) {
        ResetBufferWindow();
        NotifyDataEvent(DataEventCode::DataSetChange);
        return;
    }
    int count = mode.count(rmCenter) ? (windowSize_ - 1) / 2 : activeIndex_;
    MoveBuffer(filledCount_, 0);
    ActivateBufferWindow();
    try {
        while (count > 0 && FetchPrior()) --count;
        FillForward();
        FillBackward();
    } catch (...) {
        NotifyDataEvent(DataEventCode::DataSetChange);
        throw;
    }
    NotifyDataEvent(DataEventCode::DataSetChange);
}

// ---- Bookmarks
// ------------------------------------------------------------------------------------

bool TDataSet::BookmarkAvailable() const {
    bool stateAllows = state_ == DataSetState::Browse || state_ == DataSetState::Edit ||
                       state_ == DataSetState::Insert;
    return stateAllows && filledCount_ > 0 &&
           const_cast<TDataSet*>(this)->ReadBookmarkFlag(ActiveBuffer()) == BookmarkFlag::Current;
}

TBookmark TDataSet::TakeBookmark() {
    if (!BookmarkAvailable() || bookmarkLength_ <= 0) return {};
    TBookmark bookmark(bookmarkLength_, '\0');
    ReadBookmarkData(ActiveBuffer(), bookmark.data());
    return bookmark;
}

std::string TDataSet::BookmarkText() { return TakeBookmark(); }

void TDataSet::SetBookmarkText(const std::string& text) { MoveToBookmark(text); }

void TDataSet::MoveToBookmark(const TBookmark& bookmark) {
    if (bookmark.empty()) return;
    EnsureBrowseMode();
    FireBeforeScroll();
    CursorGoToBookmark(bookmark.data());
    RefillBuffers({rmExact, rmCenter});
    FireAfterScroll();
    CheckStateInvariants();
}

void TDataSet::DisposeBookmark(TBookmark& bookmark) {
    bookmark.clear();
    bookmark.shrink_to_fit();
}

}  // namespace db
