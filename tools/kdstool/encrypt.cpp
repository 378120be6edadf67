// kdstool encrypt and decrypt.
#include <string>

#include "tools/kdstool/common.h"

namespace kdstool {

// Encrypts or decrypts a native table in place (the engine refuses a DBF table).
int ChangeEncryption(int argc, char** argv, bool encrypt) {
    Args args = ParseArgs(argc, argv, 2, {"--password", "--password-file"});
    const char* name = encrypt ? "encrypt" : "decrypt";
    if (args.positional.size() != 1) throw Failure{std::string(name) + " needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_EXCLUSIVE);
    std::string password = Password(args, path, encrypt);
    if (encrypt && password.empty()) throw Failure{"an empty password encrypts nothing"};
    Check(encrypt ? KdsEncryptTable(table.Handle(), U(password))
                  : KdsDecryptTable(table.Handle(), U(password)),
          std::string(name) + " " + path);
    return 0;
}

}  // namespace kdstool
