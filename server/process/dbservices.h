// The process services of the database side over the process globals, installed at server start.
#pragma once

// Installs the services over the published globals unless other services are installed
// already. They stay installed for the life of the process and answer from whatever globals
// are published when asked.
void InstallDBServices();
