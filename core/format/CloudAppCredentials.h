#pragma once

// Reads the five cloud application credentials from "mcs.dt" in the program's data folder into
// App(); a missing file leaves them empty, a damaged one adds a line to the events log.
void LoadCloudAppCredentials();
