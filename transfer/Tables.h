#pragma once

#include <string>

#include "transfer/TableProfile.h"

namespace transfer {

// Receivable documents.
std::string QuerySelectDocuRecFilial();
std::string QueryInsertDocuRecCentral();
const TableProfile& docuRecProfile();

// Receivable movements.
std::string QuerySelectMoviRecFilial();
std::string QueryInsertMoviRecCentral();
const TableProfile& moviRecProfile();

}  // namespace transfer
