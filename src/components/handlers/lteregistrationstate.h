#pragma once
// How the LTE handler reads the modem's registration states.

#include "src/components/ltemodem/imodem.h"

namespace LteRegistration {

// The text of the registration signals for a state.
const char* RegistrationText(Modem::ERegistrationState state);
// Registered with the home network or roaming.
bool IsRegistered(Modem::ERegistrationState state);
// Not registered and not searching, or denied: the retry back-off applies.
bool IsRefused(Modem::ERegistrationState state);

} // namespace LteRegistration
