#pragma once

#include <string>

#include "transfer/ProgressView.h"

namespace db {
class Connection;
}

namespace transfer {

// Opens the central connection on `caminhoCentral` (the central path field),
// always with a new attachment. On failure shows the error box and returns
// false.
bool ConectaBancoCentralizador(db::Connection& conexaoCentralizador, const std::string& caminhoCentral,
                               UserMessages& messages);

// Detaches the branch connection and attaches it to `pCaminhoBanco`. On
// failure shows the warning box and returns false; `unanswered`, when
// given, tells whether the failure was a server that did not answer.
bool ConectaBancoFilial(db::Connection& conexaoFilial, const std::string& pCaminhoBanco, UserMessages& messages,
                        bool* unanswered = nullptr);

}  // namespace transfer
