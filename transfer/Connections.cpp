#include "transfer/Connections.h"

#include "db/Connection.h"
#include "db/Error.h"
#include "transfer/DisplayText.h"

namespace transfer {

bool ConectaBancoCentralizador(db::Connection& conexaoCentralizador, const std::string& caminhoCentral,
                               UserMessages& messages) {
    try {
        if (caminhoCentral.empty()) throw db::Error("Caminho do banco centralizador não informado!");
        conexaoCentralizador.parameters().setValue("database", caminhoCentral);
        // Every run attaches afresh: an attachment kept from before may be
        // dead, or be to a file since replaced under the same path.
        conexaoCentralizador.drop();
        conexaoCentralizador.open();
        return true;
    } catch (const std::exception& failure) {
        messages.error(std::string("Não foi possível conectar ao banco de dados Centralizador") + "\r" +
                       "Motivo: " + displayText(failure.what()));
        return false;
    }
}

bool ConectaBancoFilial(db::Connection& conexaoFilial, const std::string& pCaminhoBanco, UserMessages& messages,
                        bool* unanswered) {
    try {
        // The previous branch's attachment may be dead; it goes either way.
        conexaoFilial.drop();
        conexaoFilial.parameters().setValue("database", pCaminhoBanco);
        conexaoFilial.open();
        return true;
    } catch (const std::exception& failure) {
        const auto* error = dynamic_cast<const db::Error*>(&failure);
        if (unanswered) *unanswered = error && error->connectionLost();
        messages.warning("Erro ao conectar no banco de dados: " + pCaminhoBanco +
                         " Motivo: " + displayText(failure.what()));
        return false;
    }
}

}  // namespace transfer
