#pragma once

struct AppState;
struct Services;

// Checks the data access layer and the contact store, opens the template database and
// connects to the contact store. False when the program has been ended.
bool StartupVerification(AppState &state, Services &services);
