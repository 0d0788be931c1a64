// Identifiers shared by the resource script and the code that loads the resources.
#pragma once

#define RECEIVER_ICON_ID 1
