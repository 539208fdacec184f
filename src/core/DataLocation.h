#pragma once

#include <QString>

// A folder ending in "\" or "/" is returned unchanged, any other gets the separator it uses.
QString withTrailingSeparator(const QString& folder);

// Where the address book lives; the main window, the print window, the report and the command line all ask here.
// A program run where it was built or unpacked keeps Cust.mdb in its own folder. An installed program finds a marker
// file beside itself and keeps each user's Cust.mdb in that user's data folder, since its own folder is read-only
// and shared by every user.
namespace DataLocation {

// "velmarin.ini" beside the program; its [Data] Location=user names the user's data folder.
QString markerFileName();

// True when the marker beside the program sends the data to the user's data folder.
bool isInstalled();

// The folder holding Cust.mdb, without a trailing separator.
QString folder();

// The connection string of Cust.mdb in folder().
QString connectionText();

// The address book's file, as the database layer resolves connectionText() (letter case of the name included).
QString filePath();

// On an installed program's first start for this user: creates the data folder and an empty address book and returns
// true. Otherwise does nothing and returns false; in particular a portable program's missing file stays missing, for
// the start-up error. Throws ado::Error with a description when the address book cannot be created.
bool createIfInstalled();

} // namespace DataLocation
