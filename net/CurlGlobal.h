#pragma once

// Initialises libcurl once per process. Call before the first curl_easy_init of any thread:
// curl_global_init itself must not race with other libcurl calls.
void EnsureCurlGlobalInit();
