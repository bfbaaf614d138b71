#pragma once
// Conversion of diagnostics samples to and from their IPC message.

#include "platform/ipc/diagnosticscommclient.h"
#include "proto/servicemessages.pb.h"

namespace IpcSample {

ipc::MDiagnosticsSample ToMessage(const CDiagnosticsCommClient::SSample& sample);
// A message without a value gives the boolean false.
CDiagnosticsCommClient::SSample FromMessage(const ipc::MDiagnosticsSample& message);

} // namespace IpcSample
