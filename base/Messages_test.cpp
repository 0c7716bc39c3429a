#include "base/Messages.h"

#include <gtest/gtest.h>

namespace sv {
namespace {

// The texts the user sees, written out: tests elsewhere compare with the constants
// themselves, so a changed wording shows here.
TEST(Messages, TextsAreWordedAsTheUserSeesThem) {
  const struct {
    const std::string& text;
    std::string literal;
  } kTexts[] = {
      {msg::kInitialising, Cp("Inicijalizacija podataka")},
      {msg::kLocatingSettings, Cp("Lociranje konfiguracijske datoteke")},
      {msg::kLoadingSettingsFrom, Cp("Dohvat postavki iz %s")},
      {msg::kLoadingConnection, Cp("Dohvat postavki spajanja")},
      {msg::kLoadingProjects, Cp("Dohvat projekata")},
      {msg::kNoProjects, Cp("Nema definiranih projekata, kreira se dafault projekt %s")},
      {msg::kSavingSettings, Cp("Snimanje postavki")},
      {msg::kSavingConnection, Cp("Snimanje postavki spajanja")},
      {msg::kSavingProjects, Cp("Snimanje projekata")},
      {msg::kSyncAlreadyRunning, Cp("Sinhronizacija se već izvršava")},
      {msg::kProjectSyncStarted, Cp("Pokrenuto sinkroniziranje projekta %s")},
      {msg::kNoSyncNeeded, Cp("Nije potrebna sinkronizacija za projekt %s")},
      {msg::kProjectSyncDone, Cp("Sinkronizacija projekta %s završena, %d izmjena")},
      {msg::kCannotDelete, Cp("Brisanje '%s' nije moguće")},
      {msg::kForbiddenPath, Cp("Nedozvoljena putanja '%s'")},
      {msg::kNameLeftOut, Cp("Naziv '%s' nije moguće prenijeti, izostavljen je iz popisa")},
      {msg::kLinkUpward, Cp("Poveznica '%s' vodi na direktorij iznad sebe, izostavljena je iz popisa")},
      {msg::kLinkOutside, Cp("Poveznica '%s' vodi izvan direktorija projekta, izostavljena je iz popisa")},
      {msg::kListingTooLarge, Cp("Popis projekta je prevelik: poveznica '%s' ponovno vodi na već popisani direktorij")},
      {msg::kNoTrash, Cp("Koš za smeće ne prima datoteku '%s'; uklonjene i zamijenjene datoteke brišu se trajno")},
      {msg::kRemovalsHeld, Cp("Projekt %s nije sinkroniziran: zadaci bi uklonili %d od %d datoteka; "
                              "konzola čeka potvrdu (Potvrdi)")},
      {msg::kNothingHeld, Cp("Projekt %s ne čeka potvrdu")},
      {msg::kPaused, Cp("Sinhronizacija pauzirana")},
      {msg::kResumed, Cp("Sinhronizacija nastavljena")},
      {msg::kSyncPausedRefused, Cp("Sinhronizacija je pauzirana; za nastavak pritisnite Nastavi")},
      {msg::kStoppedInProject, Cp("Sinhronizacija zaustavljena zbog pauze nakon %d od %d zadataka projekta %s")},
      {msg::kStoppedBeforeProject, Cp("Sinhronizacija zaustavljena zbog pauze prije projekta %s")},
      {msg::kPreviewStarted, Cp("Pregled sljedeće sinhronizacije")},
      {msg::kPreviewClosed, Cp("Pregled nije moguć: program se zatvara")},
      {msg::kOutOfMemory, Cp("Sinkronizacija prekinuta: nema dovoljno memorije")},
      {msg::kTagInTag, Cp("Početak taga u tagu")},
      {msg::kTagMismatch, Cp("Tag %s završava na tag %s")},
      {msg::kClosingWithoutOpening, Cp("Završni tag %s bez početnog taga")},
      {msg::kSyncRequested, Cp("Pokrenuta sinkronizacija")},
      {msg::kNewSettings, Cp("Dodjela novih postavki")},
      {msg::kBadPort, Cp("Neispravan port %s")},
      {msg::kRootNotAbsolute, Cp("Korjenska mapa mora biti apsolutna putanja: %s")},
      {msg::kRootHoldsZero, Cp("Korjenska mapa ne smije sadržavati znak 0x00")},
      {msg::kCreatingFolder, Cp("Kreiranje direktorija %s")},
      {msg::kCannotCreateFile, "Cannot create file \"%s\". %s"},
      {msg::kCannotBind, "Could not bind socket. Address and port are already in use."},
      {msg::kFilterTooComplex, Cp("Filtar je presložen: traženje u jednoj poruci prešlo je granicu (%s)")},
      {msg::kFilterTooSlow, Cp("Filtar je prespor: traženje kroz poruke nije završeno u %d s")},
      {msg::kTextCut, Cp(" ... [skraćeno, ukupno %s bajtova]")},
      {msg::kRequestStopped, Cp("Zahtjev je prekinut jer se konzola zaustavlja")},
      {msg::kForbiddenHost, Cp("Konzola odgovara samo na zahtjeve upućene na localhost, 127.0.0.1 ili [::1].")},
      {msg::kForbiddenOrigin, Cp("Obrazac druge stranice ne smije slati podatke konzoli.")},
      {msg::kRequestTooLarge, Cp("Zahtjev je prevelik.")},
      {msg::kKeyRequired, Cp("Konzola se otvara samo iz izbornika programa (\"Configure\"); na Linuxu adresom iz retka "
                             "\"Configure:\" ili naredbom kill -USR1.")},
      {msg::kNoticeFailedTitle, Cp("Sinkronizacija nije uspjela")},
      {msg::kNoticeFailedProject, Cp("Projekt %s: %s")},
      {msg::kNoticeRecoveredTitle, Cp("Sinkronizacija ponovno radi")},
  };
  for (const auto& t : kTexts) EXPECT_EQ(t.text, t.literal) << t.literal;
}

}  // namespace
}  // namespace sv
