#include "transfer/Tables.h"

namespace transfer {

std::string QuerySelectDocuRecFilial() { return "SELECT * FROM DOCUREC WHERE CODEMPRESA = :CODEMPRESA"; }

std::string QueryInsertDocuRecCentral() {
    return "UPDATE OR INSERT INTO DOCUREC ("
           "CODEMPRESA, CODCLIENTE, TIPODOCTO, CODDOCTO, DT_VENDA, DT_EMISSAO, "
           "DT_VENCIMENTO, CODMOEDA, VALORVENDA, VALORDOCTO, VALORDESC, VALORPAGO, "
           "VALORDEVOL, NOSSONUMERO, NUMORD, NUMDOCORIG, CODBANCO, CODVENDEDOR, "
           "CODCART, COMISSAO, CONTACXA, EMITIUBOLETA, SIST_MANU, SITUACAO, "
           "OBSERVACAO, CODOPER, ORDEM, QUANTITENS, TXANTECIP, DESPADIC, "
           "ANOTACOES, NUMDOCBCO, TIPOVINCULO, CODVINCULO, CODPLANOVINCULO, CODFORMAVINCULO, "
           "TAXARETENCAO, CODPROJ, DESCFINANC, CODCOBRADOR, TXMANUTENCAO, GEROUREMESSA, "
           "CODAUTORIZACAO, DOCTOAUTORIZACAO, CODBANDEIRA, CODPRODUTOBANDEIRA, ACRESCIMOBOLETO, ACRESCIMOREMESSA) "
           "VALUES ("
           ":CODEMPRESA, :CODCLIENTE, :TIPODOCTO, :CODDOCTO, :DT_VENDA, :DT_EMISSAO, "
           ":DT_VENCIMENTO, :CODMOEDA, :VALORVENDA, :VALORDOCTO, :VALORDESC, :VALORPAGO, "
           ":VALORDEVOL, :NOSSONUMERO, :NUMORD, :NUMDOCORIG, :CODBANCO, :CODVENDEDOR, "
           ":CODCART, :COMISSAO, :CONTACXA, :EMITIUBOLETA, :SIST_MANU, :SITUACAO, "
           ":OBSERVACAO, :CODOPER, :ORDEM, :QUANTITENS, :TXANTECIP, :DESPADIC, "
           ":ANOTACOES, :NUMDOCBCO, :TIPOVINCULO, :CODVINCULO, :CODPLANOVINCULO, :CODFORMAVINCULO, "
           ":TAXARETENCAO, :CODPROJ, :DESCFINANC, :CODCOBRADOR, :TXMANUTENCAO, :GEROUREMESSA, "
           ":CODAUTORIZACAO, :DOCTOAUTORIZACAO, :CODBANDEIRA, :CODPRODUTOBANDEIRA, :ACRESCIMOBOLETO, "
           ":ACRESCIMOREMESSA)";
}

std::string QuerySelectMoviRecFilial() {
    // The four integer columns come first with NULL replaced by 0; the field
    // lookup finds the first of two same-named columns, so the copy reads
    // these and never the stored NULLs of MOVIREC.*.
    return "SELECT Coalesce(MOVIREC.ordemliqreceber,0) ordemliqreceber, "
           "Coalesce(MOVIREC.codliqvalor,0) codliqvalor, "
           "Coalesce(MOVIREC.codliqintegrada,0) codliqintegrada, "
           "Coalesce(MOVIREC.sequenciaenceliq,0) sequenciaenceliq, "
           "MOVIREC.* FROM MOVIREC WHERE CODEMPRESA = :CODEMPRESA";
}

std::string QueryInsertMoviRecCentral() {
    return "UPDATE OR INSERT INTO MOVIREC ("
           "CODEMPRESA, TIPODOCTO, CODDOCTO, CODCLIENTE, TIPOMOV, NUMORD, "
           "VALORMOV, VALORDESC, JUROSMULTA, DT_MOVIMENTO, DT_VENCIMENTO, CODBANCOPGTO, "
           "CODFORMAPGTO, CONTACXA, DATAHORA, NOMEBANCOPGTO, NUMDOCPGTO, SIST_MANU, "
           "USUARIO, CODOPER, CONTAPGTO, CODAGENPGTO, ESTORNADO, CODBANCOANT, "
           "CODCARTANT, CODBANCOAT, CODCARTAT, NUMORD2, ORDEMLIQRECEBER, CODLIQVALOR, "
           "OBSERVACAO, CODEMPRESAMOV, CODLIQINTEGRADA, NOSSONUMERO, AGENCIAAT, CONTAAT, "
           "SEQUENCIAENCELIQ, NUMSEQECF) "
           "VALUES ("
           ":CODEMPRESA, :TIPODOCTO, :CODDOCTO, :CODCLIENTE, :TIPOMOV, :NUMORD, "
           ":VALORMOV, :VALORDESC, :JUROSMULTA, :DT_MOVIMENTO, :DT_VENCIMENTO, :CODBANCOPGTO, "
           ":CODFORMAPGTO, :CONTACXA, :DATAHORA, :NOMEBANCOPGTO, :NUMDOCPGTO, :SIST_MANU, "
           ":USUARIO, :CODOPER, :CONTAPGTO, :CODAGENPGTO, :ESTORNADO, :CODBANCOANT, "
           ":CODCARTANT, :CODBANCOAT, :CODCARTAT, :NUMORD2, :ORDEMLIQRECEBER, :CODLIQVALOR, "
           ":OBSERVACAO, :CODEMPRESAMOV, :CODLIQINTEGRADA, :NOSSONUMERO, :AGENCIAAT, :CONTAAT, "
           ":SEQUENCIAENCELIQ, :NUMSEQECF)";
}

const TableProfile& docuRecProfile() {
    static const TableProfile profile{
        "DOCUREC",
        QuerySelectDocuRecFilial(),
        "SELECT COUNT(*) FROM DOCUREC WHERE CODEMPRESA = :CODEMPRESA",
        // Most notes are a few hundred bytes; the text stays well inside a
        // fetch packet so rows still arrive many at a time.
        // As bytes (OCTETS), so no character set conversion touches them.
        "SELECT DOCUREC.*, "
        "CAST(SUBSTRING(ANOTACOES FROM 1 FOR 4000) AS VARCHAR(4000) CHARACTER SET OCTETS) ANOTACOES_TEXTO, "
        "OCTET_LENGTH(ANOTACOES) ANOTACOES_OCTETOS FROM DOCUREC WHERE CODEMPRESA = :CODEMPRESA",
        QueryInsertDocuRecCentral(),
        "Integrando Documento: ",
        "DOCUREC: Documento = ",
        "CodDocto",
        {
            {"CodEmpresa", ReadKind::Text, "CodEmpresa", WriteKind::Text},
            {"CodCliente", ReadKind::Text, "CodCliente", WriteKind::Text},
            {"TipoDocto", ReadKind::Text, "TipoDocto", WriteKind::Text},
            {"CodDocto", ReadKind::Text, "CodDocto", WriteKind::Text},
            {"Dt_Venda", ReadKind::DateTime, "Dt_Venda", WriteKind::Date},
            {"Dt_Emissao", ReadKind::DateTime, "Dt_Emissao", WriteKind::Date},
            {"Dt_Vencimento", ReadKind::DateTime, "Dt_Vencimento", WriteKind::Date},
            {"CodMoeda", ReadKind::Text, "CodMoeda", WriteKind::Text},
            {"ValorVenda", ReadKind::Double, "ValorVenda", WriteKind::Double},
            {"ValorDocto", ReadKind::Double, "ValorDocto", WriteKind::Double},
            {"ValorDesc", ReadKind::Double, "ValorDesc", WriteKind::Double},
            {"ValorPago", ReadKind::Double, "ValorPago", WriteKind::Double},
            {"ValorDevol", ReadKind::Double, "ValorDevol", WriteKind::Double},
            {"NossoNumero", ReadKind::Text, "NossoNumero", WriteKind::Text},
            {"NumOrd", ReadKind::Text, "NumOrd", WriteKind::Text},
            {"NumDocOrig", ReadKind::Text, "NumDocOrig", WriteKind::Text},
            {"CodBanco", ReadKind::Text, "CodBanco", WriteKind::Text},
            {"CodVendedor", ReadKind::Text, "CodVendedor", WriteKind::Text},
            {"CodCart", ReadKind::Text, "CodCart", WriteKind::Text},
            {"Comissao", ReadKind::Double, "Comissao", WriteKind::Double},
            {"ContaCxa", ReadKind::Text, "ContaCxa", WriteKind::Text},
            {"EmitiuBoleta", ReadKind::Text, "EmitiuBoleta", WriteKind::Text},
            {"Sist_Manu", ReadKind::Text, "Sist_Manu", WriteKind::Text},
            {"Situacao", ReadKind::Text, "Situacao", WriteKind::Text},
            {"Observacao", ReadKind::Text, "Observacao", WriteKind::Text},
            {"CodOper", ReadKind::Text, "CodOper", WriteKind::Text},
            {"Ordem", ReadKind::Text, "Ordem", WriteKind::Text},
            {"QuantItens", ReadKind::Double, "QuantItens", WriteKind::Double},
            {"TxAntecip", ReadKind::Double, "TxAntecip", WriteKind::Double},
            {"DespAdic", ReadKind::Double, "DespAdic", WriteKind::Double},
            {"Anotacoes", ReadKind::Bytes, "Anotacoes", WriteKind::Blob},
            {"NumDocBco", ReadKind::Text, "NumDocBco", WriteKind::Text},
            {"TipoVinculo", ReadKind::Text, "TipoVinculo", WriteKind::Text},
            {"CodVinculo", ReadKind::Text, "CodVinculo", WriteKind::Text},
            {"CodPlanoVinculo", ReadKind::Text, "CodPlanoVinculo", WriteKind::Text},
            {"CodFormaVinculo", ReadKind::Text, "CodFormaVinculo", WriteKind::Text},
            {"TaxaRetencao", ReadKind::Double, "TaxaRetencao", WriteKind::Double},
            {"CodProj", ReadKind::Integer, "CodProj", WriteKind::Integer},
            {"DescFinanc", ReadKind::Double, "DescFinanc", WriteKind::Double},
            {"CodCobrador", ReadKind::Text, "CodCobrador", WriteKind::Text},
            {"TxManutencao", ReadKind::Double, "TxManutencao", WriteKind::Double},
            {"GerouRemessa", ReadKind::Text, "GerouRemessa", WriteKind::Text},
            {"CodAutorizacao", ReadKind::Text, "CodAutorizacao", WriteKind::Text},
            {"DoctoAutorizacao", ReadKind::Text, "DoctoAutorizacao", WriteKind::Text},
            {"CodBandeira", ReadKind::Text, "CodBandeira", WriteKind::Text},
            {"CodProdutoBandeira", ReadKind::Text, "CodProdutoBandeira", WriteKind::Text},
            {"AcrescimoBoleto", ReadKind::Double, "AcrescimoBoleto", WriteKind::Double},
            {"AcrescimoRemessa", ReadKind::Double, "AcrescimoRemessa", WriteKind::Double},
        },
    };
    return profile;
}

const TableProfile& moviRecProfile() {
    static const TableProfile profile{
        "MOVIREC",
        QuerySelectMoviRecFilial(),
        "SELECT COUNT(*) FROM MOVIREC WHERE CODEMPRESA = :CODEMPRESA",
        "",
        QueryInsertMoviRecCentral(),
        "Integrando Movimento: ",
        "MOVIREC: Documento = ",
        "CodDocto",
        {
            {"CodEmpresa", ReadKind::Text, "CodEmpresa", WriteKind::Text},
            {"TipoDocto", ReadKind::Text, "TipoDocto", WriteKind::Text},
            {"CodDocto", ReadKind::Text, "CodDocto", WriteKind::Text},
            {"CodCliente", ReadKind::Text, "CodCliente", WriteKind::Text},
            {"TipoMov", ReadKind::Text, "TipoMov", WriteKind::Text},
            {"NumOrd", ReadKind::Text, "NumOrd", WriteKind::Text},
            {"ValorMov", ReadKind::Double, "ValorMov", WriteKind::Double},
            {"ValorDesc", ReadKind::Double, "ValorDesc", WriteKind::Double},
            {"JurosMulta", ReadKind::Double, "JurosMulta", WriteKind::Double},
            {"Dt_Movimento", ReadKind::DateTime, "Dt_Movimento", WriteKind::Date},
            {"Dt_Vencimento", ReadKind::DateTime, "Dt_Vencimento", WriteKind::Date},
            {"CodBancoPgto", ReadKind::Text, "CodBancoPgto", WriteKind::Text},
            {"CodFormaPgto", ReadKind::Text, "CodFormaPgto", WriteKind::Text},
            {"ContaCxa", ReadKind::Text, "ContaCxa", WriteKind::Text},
            {"DataHora", ReadKind::Text, "DataHora", WriteKind::Text},
            {"NomeBancoPgto", ReadKind::Text, "NomeBancoPgto", WriteKind::Text},
            {"NumDocPgto", ReadKind::Text, "NumDocPgto", WriteKind::Text},
            {"Sist_Manu", ReadKind::Text, "Sist_Manu", WriteKind::Text},
            {"Usuario", ReadKind::Text, "Usuario", WriteKind::Text},
            {"CodOper", ReadKind::Text, "CodOper", WriteKind::Text},
            {"ContaPgto", ReadKind::Text, "ContaPgto", WriteKind::Text},
            {"CodAgenPgto", ReadKind::Text, "CodAgenPgto", WriteKind::Text},
            {"Estornado", ReadKind::Text, "Estornado", WriteKind::Text},
            {"CodBancoAnt", ReadKind::Text, "CodBancoAnt", WriteKind::Text},
            {"CodCartAnt", ReadKind::Text, "CodCartAnt", WriteKind::Text},
            {"CodBancoAt", ReadKind::Text, "CodBancoAt", WriteKind::Text},
            {"CodCartAt", ReadKind::Text, "CodCartAt", WriteKind::Text},
            {"NumOrd2", ReadKind::Text, "NumOrd2", WriteKind::Text},
            {"OrdemLiqReceber", ReadKind::Integer, "OrdemLiqReceber", WriteKind::Integer},
            {"CodLiqValor", ReadKind::Integer, "CodLiqValor", WriteKind::Integer},
            {"Observacao", ReadKind::Text, "Observacao", WriteKind::Text},
            {"CodEmpresaMov", ReadKind::Text, "CodEmpresaMov", WriteKind::Text},
            {"CodLiqIntegrada", ReadKind::Integer, "CodLiqIntegrada", WriteKind::Integer},
            {"NossoNumero", ReadKind::Text, "NossoNumero", WriteKind::Text},
            {"AgenciaAt", ReadKind::Text, "AgenciaAt", WriteKind::Text},
            {"ContaAt", ReadKind::Text, "ContaAt", WriteKind::Text},
            {"SequenciaEnceliq", ReadKind::Integer, "SequenciaEnceliq", WriteKind::Integer},
            {"NumSeqEcf", ReadKind::Text, "NumSeqEcf", WriteKind::Text},
        },
    };
    return profile;
}

}  // namespace transfer
