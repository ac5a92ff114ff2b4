#pragma once

// Probes every port of the system's port list and fills deviceList with those that answer.
void DiscoverPorts();
