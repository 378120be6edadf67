// C entry points of filters, the exact setting and the expression forms.
#include "engine/api/helpers.h"
#include "engine/filter/expr_filter.h"
#include "engine/index/table_indexes.h"

namespace kce {

namespace {

KCESTATUS CompileCondition(TableCursor& cursor, const std::string& text,
                           std::unique_ptr<Expression>* out) {
    ExprSchema schema = SchemaOfLayout(cursor.Layout());
    if (KCESTATUS s = Expression::Compile(text, schema, out)) {
        return Fail(s, "table '" + cursor.Name() + "': " + LastFailureDetail());
    }
    if ((*out)->Type() != ValueType::kLogical) {
        std::string type = ValueTypeName((*out)->Type());
        out->reset();
        return Fail(KCE_EXPR_NOT_LOGICAL, "table '" + cursor.Name() + "': filter \"" + text +
                                              "\" is " + type + ", not logical");
    }
    return KCE_SUCCESS;
}

// Text results that say "there is one" with KCE_INSUFFICIENT_BUFFER when no buffer is given, so
// that a caller can size its buffer from the length.
KCESTATUS CopyExpression(const std::string& text, UNSIGNED8* buf, UNSIGNED16* len) {
    if (!len) return Fail(KCE_INVALID_ARGUMENT, "no length given for a text result");
    if (!buf) {
        *len = UNSIGNED16(std::min<size_t>(text.size(), 0xFFFF));
        return Fail(KCE_INSUFFICIENT_BUFFER, "the filter needs " + std::to_string(text.size()) +
                                                 " bytes, no buffer was given");
    }
    return CopyOut(text, buf, len);
}

KCESTATUS ResolveAof(TableCursor& cursor, FilterState& st) {
    st.optimized = false;
    st.candidates.clear();
    st.servedBy.clear();
    Storage& storage = cursor.Store();
    bool served = false;
    if (TableIndexes::Supports(storage)) {
        std::shared_ptr<TableIndexes> indexes;
        if (KCESTATUS s = TableIndexes::For(storage, &indexes)) return s;
        if (KCESTATUS s = IndexCandidates(*indexes, *st.aof, st.exact, &st.candidates, &served,
                                          &st.servedBy, &st.candidatesChanges)) {
            return s;
        }
    }
    if (st.aofMode != 1) {
        st.optimized = served;
        return KCE_SUCCESS;
    }
    // Immediate: the matching records now, read from the candidates or from every record.
    ExprSchema schema = SchemaOfLayout(cursor.Layout());
    std::vector<uint8_t> image(cursor.Layout().recordLength);
    std::vector<UNSIGNED32> matches;
    auto test = [&](UNSIGNED32 recno) -> KCESTATUS {
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage.ReadRecord(recno, image.data(), &exists, &deleted)) return s;
        if (!exists) return KCE_SUCCESS;
        ImageRecord record(schema, image.data(), image.size());
        record.SetRecNo(recno);
        record.SetDeleted(deleted);
        BlobSource blobs{&storage, recno};
        record.SetBlobReader(&BlobSource::Read, &blobs);
        if (st.aof->Matches(record, st.exact)) matches.push_back(recno);
        return KCE_SUCCESS;
    };
    if (served) {
        for (UNSIGNED32 recno : st.candidates) {
            if (KCESTATUS s = test(recno)) return s;
        }
    } else {
        UNSIGNED32 recno = 0;
        while (true) {
            if (KCESTATUS s = storage.NextRecno(recno, &recno)) return s;
            if (recno == 0) break;
            if (KCESTATUS s = test(recno)) return s;
        }
    }
    st.candidates = std::move(matches);
    st.optimized = true;
    return KCE_SUCCESS;
}

}  // namespace

}  // namespace kce

using namespace kce;

extern "C" KCESTATUS KdsSetFilter(KDSHANDLE table, const UNSIGNED8* expression) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        auto st = FilterStateOf(cursor);
        std::string text = TextArg(expression);
        std::unique_ptr<Expression> compiled;
        if (text.find_first_not_of(" \t") != std::string::npos) {
            if (KCESTATUS s = CompileCondition(cursor, text, &compiled)) return s;
        }
        st->filterText = compiled ? text : std::string();
        st->filter = std::move(compiled);
        InstallFilter(cursor);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsClearFilter(KDSHANDLE table) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        auto st = FilterStateOf(cursor);
        if (!st->filter) return Fail(KCE_NO_FILTER, "table '" + cursor.Name() + "'");
        st->filter.reset();
        st->filterText.clear();
        InstallFilter(cursor);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetFilter(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED16* len) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        auto st = FilterStateOf(cursor);
        if (!st->filter) {
            if (len) *len = 0;
            return Fail(KCE_NO_FILTER, "table '" + cursor.Name() + "'");
        }
        return CopyExpression(st->filterText, buf, len);
    });
}

extern "C" KCESTATUS KdsSetAOF(KDSHANDLE table, const UNSIGNED8* expression, UNSIGNED16 options) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        if (options != 1 && options != 2) {
            return Fail(KCE_INVALID_ARGUMENT,
                        "resolution " + std::to_string(options) + " (1 immediate, 2 dynamic)");
        }
        auto st = FilterStateOf(cursor);
        std::string text = TextArg(expression);
        std::unique_ptr<Expression> compiled;
        if (KCESTATUS s = CompileCondition(cursor, text, &compiled)) return s;
        FilterState next;
        next.exact = st->exact;
        next.aofText = text;
        next.aof = std::move(compiled);
        next.aofMode = options;
        if (KCESTATUS s = ResolveAof(cursor, next)) return s;
        st->aofText = std::move(next.aofText);
        st->aof = std::move(next.aof);
        st->aofMode = next.aofMode;
        st->optimized = next.optimized;
        st->candidates = std::move(next.candidates);
        st->candidatesChanges = next.candidatesChanges;
        st->servedBy = std::move(next.servedBy);
        InstallFilter(cursor);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsClearAOF(KDSHANDLE table) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        auto st = FilterStateOf(cursor);
        if (!st->aof) return Fail(KCE_NO_FILTER, "table '" + cursor.Name() + "' has no AOF");
        st->aof.reset();
        st->aofText.clear();
        st->optimized = false;
        st->candidates.clear();
        st->servedBy.clear();
        InstallFilter(cursor);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetAOF(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED16* len) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        auto st = FilterStateOf(cursor);
        if (!st->aof) {
            if (len) *len = 0;
            return Fail(KCE_NO_FILTER, "table '" + cursor.Name() + "' has no AOF");
        }
        return CopyExpression(st->aofText, buf, len);
    });
}

extern "C" KCESTATUS KdsGetAOFOptLevel(KDSHANDLE table, UNSIGNED16* level, UNSIGNED8* buf,
                                       UNSIGNED16* len) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        auto st = FilterStateOf(cursor);
        if (!st->aof) return Fail(KCE_NO_FILTER, "table '" + cursor.Name() + "' has no AOF");
        if (!level) return Fail(KCE_INVALID_ARGUMENT, "no result variable given");
        *level = st->servedBy.empty() ? KCE_AOF_NOT_OPTIMIZED : KCE_AOF_OPTIMIZED;
        std::string names;
        for (const std::string& n : st->servedBy) names += (names.empty() ? "" : ";") + n;
        if (!buf && !len) return KCE_SUCCESS;
        return CopyOut(names, buf, len);
    });
}

extern "C" KCESTATUS KdsSetExact22(KDSHANDLE table, UNSIGNED16 exact) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        FilterStateOf(cursor)->exact = exact != 0;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetExact22(KDSHANDLE table, UNSIGNED16* exact) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        if (!exact) return Fail(KCE_INVALID_ARGUMENT, "no result variable given");
        *exact = FilterStateOf(cursor)->exact ? 1 : 0;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsExpressionLongToShort(KDSHANDLE table, const UNSIGNED8* expression,
                                              UNSIGNED8* buf, UNSIGNED16* len) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        std::string out;
        if (KCESTATUS s =
                ExpressionLongToShort(TextArg(expression), SchemaOfLayout(cursor.Layout()), &out)) {
            return s;
        }
        return CopyOut(out, buf, len);
    });
}

extern "C" KCESTATUS KdsExpressionShortToLong(KDSHANDLE table, const UNSIGNED8* expression,
                                              UNSIGNED8* buf, UNSIGNED16* len) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        std::string out;
        if (KCESTATUS s =
                ExpressionShortToLong(TextArg(expression), SchemaOfLayout(cursor.Layout()), &out)) {
            return s;
        }
        return CopyOut(out, buf, len);
    });
}

extern "C" KCESTATUS KdsIsExpressionValid(KDSHANDLE table, const UNSIGNED8* expression,
                                          UNSIGNED16* valid) {
    return OnTableOf(table, [&](TableCursor& cursor) -> KCESTATUS {
        if (!valid) return Fail(KCE_INVALID_ARGUMENT, "no result variable given");
        std::unique_ptr<Expression> e;
        KCESTATUS s = Expression::Compile(TextArg(expression), SchemaOfLayout(cursor.Layout()), &e);
        *valid = s == KCE_SUCCESS;
        return s;
    });
}
