#pragma once
// The program's own message texts, as Windows-1250 bytes (written here in UTF-8 and
// converted once at start-up). Texts with %s and %d are filled with Format.
// Do not read these from other static initialisers: their order is not defined.
#include <string>

#include "base/Text.h"

namespace sv::msg {

// Start-up and settings.
inline const std::string kInitialising = Cp("Inicijalizacija podataka");
inline const std::string kLocatingSettings = Cp("Lociranje konfiguracijske datoteke");
inline const std::string kLoadingSettingsFrom = Cp("Dohvat postavki iz %s");
inline const std::string kLoadingConnection = Cp("Dohvat postavki spajanja");
inline const std::string kLoadingProjects = Cp("Dohvat projekata");
inline const std::string kLoadingProject = Cp("Dohvat projekta %s");
inline const std::string kNoProjects = Cp("Nema definiranih projekata, kreira se dafault projekt %s");
inline const std::string kSavingSettings = Cp("Snimanje postavki");
inline const std::string kSavingConnection = Cp("Snimanje postavki spajanja");
inline const std::string kSavingProjects = Cp("Snimanje projekata");
inline const std::string kNoImplementation = Cp("Nema implementacije klijentskog servisa");

// Synchronisation.
inline const std::string kSyncAlreadyRunning = Cp("Sinhronizacija se već izvršava");
inline const std::string kProjectSyncStarted = Cp("Pokrenuto sinkroniziranje projekta %s");
inline const std::string kNoSyncNeeded = Cp("Nije potrebna sinkronizacija za projekt %s");
inline const std::string kProjectSyncDone = Cp("Sinkronizacija projekta %s završena, %d izmjena");
inline const std::string kCannotDelete = Cp("Brisanje '%s' nije moguće");
inline const std::string kForbiddenPath = Cp("Nedozvoljena putanja '%s'");
// A name that cannot travel in Windows-1250 (or holds a backslash) is left out of a listing.
inline const std::string kNameLeftOut = Cp("Naziv '%s' nije moguće prenijeti, izostavljen je iz popisa");
// A link back to a folder that holds it, and (for the reference server) a link that
// leads out of the project, are left out of a listing.
inline const std::string kLinkUpward = Cp("Poveznica '%s' vodi na direktorij iznad sebe, izostavljena je iz popisa");
inline const std::string kLinkOutside =
    Cp("Poveznica '%s' vodi izvan direktorija projekta, izostavljena je iz popisa");
// Links repeat folders until the listing would pass its budget: the project is not synchronised.
inline const std::string kListingTooLarge =
    Cp("Popis projekta je prevelik: poveznica '%s' ponovno vodi na već popisani direktorij");
// What the reference server cannot read of a project it serves.
inline const std::string kCannotReadFolder = "Cannot read folder \"%s\". %s";
inline const std::string kCannotReadFile = "Cannot read file \"%s\". %s";

// Removed and replaced files go to the trash; where none takes them they are deleted
// (noted once per synchronisation, with the first such file).
inline const std::string kNoTrash =
    Cp("Koš za smeće ne prima datoteku '%s'; uklonjene i zamijenjene datoteke brišu se trajno");
// A project whose task list would remove more than the limits allow waits for the user:
// project, files removed, files listed.
inline const std::string kRemovalsHeld = Cp("Projekt %s nije sinkroniziran: zadaci bi uklonili %d od %d datoteka; "
                                            "konzola čeka potvrdu (Potvrdi)");
inline const std::string kRemovalsConfirmed = Cp("Potvrđeno uklanjanje do %d datoteka projekta %s");
inline const std::string kNothingHeld = Cp("Projekt %s ne čeka potvrdu");

// Pause and preview of synchronisations.
inline const std::string kPaused = Cp("Sinhronizacija pauzirana");
inline const std::string kPausedWhileRunning =
    Cp("Sinhronizacija pauzirana; tekuća se zaustavlja kad primi datoteku koja upravo stiže");
inline const std::string kResumed = Cp("Sinhronizacija nastavljena");
inline const std::string kSyncPausedRefused = Cp("Sinhronizacija je pauzirana; za nastavak pritisnite Nastavi");
inline const std::string kStoppedInProject =
    Cp("Sinhronizacija zaustavljena zbog pauze nakon %d od %d zadataka projekta %s");
inline const std::string kStoppedBeforeProject = Cp("Sinhronizacija zaustavljena zbog pauze prije projekta %s");
inline const std::string kPreviewStarted = Cp("Pregled sljedeće sinhronizacije");
inline const std::string kPreviewClosed = Cp("Pregled nije moguć: program se zatvara");
// Memory ran out during a synchronisation (on the server: during one client's connection).
inline const std::string kOutOfMemory = Cp("Sinkronizacija prekinuta: nema dovoljno memorije");

// Markup.
inline const std::string kTagInTag = Cp("Početak taga u tagu");
inline const std::string kTagMismatch = Cp("Tag %s završava na tag %s");
inline const std::string kClosingWithoutOpening = Cp("Završni tag %s bez početnog taga");

// Folder model.
// A broken internal promise: filled with "Assertion failure", the unit's path and a line.
inline const std::string kAssertion = "%s (%s, line %d)";
inline const std::string kAssertionFailure = "Assertion failure";
inline const std::string kDuplicateDirectory = Cp("Direktorij već sadrži direktorij '%s'");
inline const std::string kDuplicateFile = Cp("Direktorij već sadrži datoteku '%s'");

// Console.
inline const std::string kSyncRequested = Cp("Pokrenuta sinkronizacija");
inline const std::string kNewSettings = Cp("Dodjela novih postavki");
inline const std::string kUndefined = Cp("(nije definirano)");
inline const std::string kBadPort = Cp("Neispravan port %s");
inline const std::string kRootNotAbsolute = Cp("Korjenska mapa mora biti apsolutna putanja: %s");
inline const std::string kRootHoldsZero = Cp("Korjenska mapa ne smije sadržavati znak 0x00");
// A server key pin that is none (in the settings file or the form).
inline const std::string kBadKeyPin = Cp("Neispravan otisak ključa poslužitelja %s");

// Project root and access grant.
inline const std::string kCreatingFolder = Cp("Kreiranje direktorija %s");
inline const std::string kAccessGranted = Cp("Dozvola pristupa %s na %s");
inline const std::string kAccessFailed = Cp("Nije uspjela dozvola pristupa %s na %s, greška %d %s");

// Messages of the conversion, list, file, socket and HTTP layers (English, as they stand).
inline const std::string kNotInteger = "'%s' is not a valid integer value";
inline const std::string kNotDateTime = "'%s' is not a valid date and time";
inline const std::string kClassNotFound = "Class %s not found";
inline const std::string kCannotCreateFile = "Cannot create file \"%s\". %s";
inline const std::string kCannotOpenFile = "Cannot open file \"%s\". %s";
inline const std::string kCannotCreateDirectory = "Unable to create directory";
inline const std::string kReplyCodeInvalid = "Reply Code is not valid: %s";
inline const std::string kMaxLineLength = "Max line length exceeded.";
inline const std::string kClosedGracefully = "Connection Closed Gracefully.";
inline const std::string kNotConnected = "Not connected.";
inline const std::string kAlreadyConnected = "Already connected.";
inline const std::string kSocketError = "Socket Error # %d\r\n%s";
inline const std::string kResourceNotFound = "Resource %s not found";
inline const std::string kCannotBind = "Could not bind socket. Address and port are already in use.";
inline const std::string kRegexCompileError = "TPerlRegEx.Compile() - Error in regex at offset %d: %s";
// A filter that matching cannot finish within its limits: one event's match went past a
// PCRE2 limit (filled with PCRE2's error text), or the page's matching took too long
// (filled with the seconds allowed).
inline const std::string kFilterTooComplex = Cp("Filtar je presložen: traženje u jednoj poruci prešlo je granicu (%s)");
inline const std::string kFilterTooSlow = Cp("Filtar je prespor: traženje kroz poruke nije završeno u %d s");
// The mark that ends an event text cut to the log's limit (filled with the text's whole
// length in bytes).
inline const std::string kTextCut = Cp(" ... [skraćeno, ukupno %s bajtova]");
// A request given up because the console stops.
inline const std::string kRequestStopped = Cp("Zahtjev je prekinut jer se konzola zaustavlja");
// The console's refusals, shown on the refusal page under "Zahtjev nije prihvaćen".
inline const std::string kForbiddenHost =
    Cp("Konzola odgovara samo na zahtjeve upućene na localhost, 127.0.0.1 ili [::1].");
inline const std::string kForbiddenOrigin = Cp("Obrazac druge stranice ne smije slati podatke konzoli.");
inline const std::string kRequestTooLarge = Cp("Zahtjev je prevelik.");
inline const std::string kKeyRequired = Cp(
    "Konzola se otvara samo iz izbornika programa (\"Configure\"); na Linuxu adresom iz retka "
    "\"Configure:\" ili naredbom kill -USR1.");

// Host and controller.
inline const std::string kTrayHint = "Sorvana Client 9X";
inline const std::string kKeyFileFailed = Cp("Ključ konzole nije zapisan: %s");
// The headless host's stand-in for the tray menu's "Configure" entry.
inline const std::string kConfigureLine = "Configure: %s";
// The desktop notices of synchronisation failures and of their end.
inline const std::string kNoticeFailedTitle = Cp("Sinkronizacija nije uspjela");
inline const std::string kNoticeFailedProject = Cp("Projekt %s: %s");
inline const std::string kNoticeRecoveredTitle = Cp("Sinkronizacija ponovno radi");
inline const std::string kNoticeRecovered = Cp("Projekti su ponovno usklađeni sa serverom.");
// Start at login on a system whose user service is not installed.
inline const std::string kStartAtLoginMissing =
    Cp("Pokretanje pri prijavi nije moguće: usluga sorvana-client.service nije instalirana");

}  // namespace sv::msg
