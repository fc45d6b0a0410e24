#pragma once

// The version this program writes into the files it saves ("quorilVersion").
inline constexpr char quorilProgramVersion[] = "6.15.1";
