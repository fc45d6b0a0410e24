#pragma once

// Updating a camera's firmware or system file is not part of this build. Every model's update
// operations report that through the log and leave the camera and the project untouched.
void warnCameraUpdatesUnavailable();
