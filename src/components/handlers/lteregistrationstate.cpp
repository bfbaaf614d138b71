#include "src/components/handlers/lteregistrationstate.h"

namespace LteRegistration {

const char* RegistrationText(Modem::ERegistrationState state)
{
    switch (state) {
    case Modem::ERegistrationState::NotRegistered: return "Not registered: Not scanning";
    case Modem::ERegistrationState::RegisteredHome: return "Registered";
    case Modem::ERegistrationState::Searching: return "Not registered: Scanning";
    case Modem::ERegistrationState::Denied: return "Registration denied";
    case Modem::ERegistrationState::Unknown: return "Unknown";
    case Modem::ERegistrationState::RegisteredRoaming: return "Roaming";
    }
    return "Unknown";
}

bool IsRegistered(Modem::ERegistrationState state)
{
    return state == Modem::ERegistrationState::RegisteredHome ||
           state == Modem::ERegistrationState::RegisteredRoaming;
}

bool IsRefused(Modem::ERegistrationState state)
{
    return state == Modem::ERegistrationState::NotRegistered || state == Modem::ERegistrationState::Denied;
}

} // namespace LteRegistration
