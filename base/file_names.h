#pragma once

#include <QString>

// A path next to `path` that does not exist yet: `path` itself when free (and alwaysNumber is
// false), otherwise "_" and a counter of at least three digits inserted before the complete suffix
// (img.jpg -> img_001.jpg, scan.tar.gz -> scan_001.tar.gz, folder -> folder_001).
QString uniqueFileName(const QString& path, bool alwaysNumber = false);

// Replaces the characters that file systems refuse (line feed, \ / : ? " < > |) by "-" and trims.
QString sanitizeFileName(QString name);

// As sanitizeFileName, then every character other than an ASCII letter or digit, white space,
// "-", "_" or "#" becomes "_": the form the export archive and the portal accept.
QString portalSafeName(QString name);

// True only for one plain path component: not empty, not "." or "..", no separator, no NUL.
// Every folder or file name taken from project data or an archive must pass this.
bool isPlainName(const QString& name);
