// Data dictionaries (.kdd): one SQLite database file listing the users who may connect (each with
// a salted Argon2id hash of the password, never the password) and the tables that the
// dictionary's connections open by bare name (file, table type, index files, properties).
//
// Every function opens the file for its own work and closes it again, so several connections and
// the maintenance calls of other processes see each other's changes at once.
#pragma once

#include <string>
#include <vector>

#include "engine/kce.h"

namespace kce {

// A table as the dictionary holds it. file and indexFiles are as stored: a relative path is
// taken from the dictionary's folder (see DictionaryTable::Resolved*).
struct DictionaryTable {
    std::string name;
    std::string file;
    UNSIGNED16 tableType = KCE_DEFAULT_TABLE;
    std::vector<std::string> indexFiles;
};

// Creates an empty dictionary at path (KCE_DICTIONARY_EXISTS when a file is there).
KCESTATUS CreateDictionary(const std::string& path);

// Checks a user name and password against the dictionary: KCE_LOGIN_FAILED (with the user's name
// and the dictionary, never the password) when the pair is not one of its users.
KCESTATUS CheckDictionaryLogin(const std::string& path, const std::string& user,
                               const std::string& password);

// Users: names compare without regard to letter case, passwords exactly.
KCESTATUS AddDictionaryUser(const std::string& path, const std::string& user,
                            const std::string& password);
KCESTATUS DropDictionaryUser(const std::string& path, const std::string& user);
KCESTATUS DictionaryUsers(const std::string& path, std::vector<std::string>* users);

// Tables: names compare without regard to letter case.
KCESTATUS AddDictionaryTable(const std::string& path, const DictionaryTable& table);
// KCE_TABLE_NOT_FOUND (5132) when the dictionary holds no table of that name.
KCESTATUS FindDictionaryTable(const std::string& path, const std::string& name,
                              DictionaryTable* table);
KCESTATUS DictionaryTableNames(const std::string& path, std::vector<std::string>* names);

// Table properties by code (KCE_DD_TABLE_DEFAULT_INDEX only). Reading one the table does not
// have gives KCE_NO_PROPERTY (5138); setting an empty value removes it.
KCESTATUS GetDictionaryTableProperty(const std::string& path, const std::string& table,
                                     UNSIGNED16 property, std::string* value);
KCESTATUS SetDictionaryTableProperty(const std::string& path, const std::string& table,
                                     UNSIGNED16 property, const std::string& value);

// Whether a path given to a connection names a dictionary (its upper-cased form holds ".KDD").
bool NamesDictionary(const std::string& given);

}  // namespace kce
