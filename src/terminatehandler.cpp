#include "src/terminatehandler.h"

#include "platform/log/log.h"

#include <cstdlib>
#include <exception>
#include <typeinfo>

void CTerminateHandler::Install()
{
    std::set_terminate(&CTerminateHandler::Handle);
}

void CTerminateHandler::Handle()
{
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            const char* name = typeid(e).name();
            if (name != nullptr && *name == '*') {
                ++name;
            }
            TLOG_CRITICAL("Uncaught exception of type '{}' with message: '{}'", Log::Demangle(name), e.what());
        } catch (...) {
            TLOG_CRITICAL("Uncaught exception of unknown type.");
        }
    }
    TLOG_CRITICAL("Aborting process.");
    Log::Logger().flush();
    std::abort();
}
