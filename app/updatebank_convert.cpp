// The CONVERT command of TForm1.
#include <string>
#include <vector>

#include "app/convert_observer.h"
#include "app/updatebank.h"
#include "dataset/fields.h"
#include "gui/application.h"
#include "kds/kdscnnct.h"
#include "kds/kdstable.h"
#include "rtl/exceptions.h"

namespace app {
namespace {

// The password of the encrypted free employee tables.
constexpr const char* kEncryptionPassword = "KRALD4729";

// The photo travels through this file: written under one spelling, read back under another, which
// names the same file because file names are found without regard to letter case.
constexpr const char* kPhotoWritten = "c:\\temp\\photo.JPG";
constexpr const char* kPhotoRead = "c:\\temp\\photo.jpg";

db::TBlobField& AsBlobField(db::TField& field) {
    auto* blob = dynamic_cast<db::TBlobField*>(&field);
    if (!blob) throw rtl::EInvalidCast("Invalid class typecast");
    return *blob;
}

}  // namespace

// Copies every record of the source folder's EMPLOYEE table into the emptied EMPLOYEE table of
// the target folder, field by field where the names match, each value as text. A field that
// fails is shown in a message box and the copy goes on; a photo that fails is a memo line. Any
// other failure ends the command and reaches the default exception handler.
//
// When source and target name the same table, the target's exclusive open is refused while the
// source holds the table open, so the table is never emptied: the command ends with the engine's
// message that the table is open and cannot be opened exclusively. A target without an order on
// EMP_NO is refused the same way, before anything is removed from it.
void TForm1::Button12Click(rtl::TComponent*) {
    KdsConnection2->SetIsConnected(false);
    KdsConnection1->SetIsConnected(false);
    KdsConnection1->SetConnectPath(Edit1->Text());
    KdsConnection2->SetConnectPath(Edit2->Text());

    KdsTable1->Close();
    KdsTable1->SetTableName("EMPLOYEE");
    KdsTable1->Open();
    if (!KdsTable1->KdsConnection()->IsDictionaryConnection())
        KdsTable1->EnableEncryption(kEncryptionPassword);

    KdsTable2->Close();
    KdsTable2->SetTableName("EMPLOYEE");
    KdsTable2->Open();
    if (!KdsTable2->KdsConnection()->IsDictionaryConnection())
        KdsTable2->EnableEncryption(kEncryptionPassword);

    // A target that cannot be ordered on EMP_NO would refuse the run after emptying: the order
    // is set first, so that such a target is refused with all its records in place.
    KdsTable2->SetIndexFieldNames("EMP_NO");
    KdsTable2->EmptyTable();
    KdsTable2->SetIndexFieldNames("EMP_NO");

    // Progress for a batch run; the window shows none.
    const long long total = KdsTable1->CountRecords();
    long long done = 0;
    // The pairs of fields copied: each source field but the photo (only this exact spelling)
    // with the target field of its name. Both field lists stay as they are while the tables are
    // open, so the names are looked up once rather than for every record.
    struct Pair {
        int index;  // in the source's field list
        db::TField* from;
        db::TField* to;
    };
    std::vector<Pair> pairs;
    const int n = KdsTable1->NumFields();
    for (int i = 0; i < n; ++i) {
        const std::string& name = KdsTable1->FieldAt(i).FieldName();
        if (name == "PHOTO_ID") continue;
        if (db::TField* to = KdsTable2->FieldNamedOrNull(name))
            pairs.push_back({i, &KdsTable1->FieldNamed(name), to});
    }
    while (!KdsTable1->AtEOF()) {
        KdsTable2->Append();
        for (const Pair& pair : pairs) {
            std::string text;
            try {
                text = pair.from->StringValue();
                pair.to->SetStringValue(text);
                if (convertObserver) convertObserver->Copied(*pair.from, *pair.to, text);
            } catch (const rtl::Exception& e) {
                const std::string& name = KdsTable1->FieldAt(pair.index).FieldName();
                if (convertObserver)
                    convertObserver->Refused(KdsTable1->FieldAt(pair.index), text, e.what());
                gui::ShowMessage(std::string(e.what()) + " EMPNO# " +
                                 KdsTable1->FieldNamed("EMP_NO").StringValue() + " " + name +
                                 " field " + name);
            }
        }
        try {
            db::TBlobField& dst = AsBlobField(KdsTable2->FieldNamed("PHOTO_ID"));
            db::TBlobField& src = AsBlobField(KdsTable1->FieldNamed("PHOTO_ID"));
            if (!src.IsBlank()) {
                src.WriteToFile(kPhotoWritten);
                dst.ReadFromFile(kPhotoRead);
            }
        } catch (const rtl::Exception& e) {
            Memo1->Lines().Add(std::string(e.what()) + "PHOTO_ID EMPNO# " +
                               KdsTable1->FieldNamed("EMP_NO").StringValue());
        }
        KdsTable2->Post();
        KdsTable1->Next();
        gui::ShowProgress(++done, total);
    }
    gui::ShowMessage("-DONE-");
}

}  // namespace app
