#pragma once

struct Services;

// The real data access check and the vCard-folder store beside the executable.
void UseDefaultBackends(Services &services);
