// The process services of the database side over the process globals, and the registration of
// client connections; both installed at server start.
#pragma once

// Installs the services over the published globals unless other services are installed
// already. They stay installed for the life of the process and answer from whatever globals
// are published when asked.
void InstallDBServices();

// Makes the factory of connections of kind '0' build tDBServer objects, and installs the
// database side's process services unless the process has installed its own. Called at
// server start, before workers run.
void RegisterClientConnections();
