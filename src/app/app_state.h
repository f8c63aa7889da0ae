#pragma once
// Everything the dialogs share for the life of the process. The application owns exactly one
// and hands it to each dialog; a test makes a fresh one, so no state leaks between tests.

#include <cstdint>
#include <filesystem>

#include "app/firmware_config.h"
#include "discovery/packet_header.h"
#include "discovery/router_record.h"
#include "discovery/router_table.h"
#include "platform/ipv4.h"
#include "text/text_table.h"
#include "upgrade/firmware_path.h"

namespace corvalink {

struct AppState {
  RouterTable routerTable;
  RouterRecord selectedRouter;
  InterfaceTextTable interfaceText;
  FirmwarePath firmwarePath;
  /// Set by the upgrade socket when the router accepted the upgrade; read by the dialog's timer.
  bool upgradeAcknowledged = false;
  /// What the main dialog is opened for; the firmware configuration is chosen on the command line.
  MainDialogConfiguration configuration = MainDialogConfiguration::ServerSetup;

  /// Where the registry store keeps its keys.
  std::filesystem::path registryRoot;
  /// Where a search is sent. The product always uses the limited broadcast; tests aim it at
  /// loopback.
  Endpoint discoveryDestination{{255, 255, 255, 255}, DISCOVERY_PORT};
  /// Where upgrade requests and the TFTP write go, by port. The product uses the routers' ports;
  /// tests aim them at a simulator on loopback.
  uint16_t upgradePort = DISCOVERY_PORT;
  uint16_t tftpPort = 69;
};

}  // namespace corvalink
