#include "host/ErrorBox.h"

#include <gtest/gtest.h>

#include "base/Messages.h"
#include "base/Text.h"

namespace sv {
namespace {

// The first letter stays as it is; only the later ones go to lower case.
TEST(ErrorBox, TheCaptionIsTheProgramNameUpToItsFirstFullStop) {
  EXPECT_EQ(ApplicationTitle("sorvana-client"), "sorvana-client");
  EXPECT_EQ(ApplicationTitle("SORVANA.Client.exe"), "Sorvana");
  EXPECT_EQ(ApplicationTitle(Cp("čUVAR.bin")), Cp("čuvar"));
  EXPECT_EQ(ApplicationTitle(Cp("ŠIBA")), Cp("Šiba"));
  EXPECT_EQ(ApplicationTitle(".hidden"), "");
}

TEST(ErrorBox, AFullStopEndsTheMessageUnlessItEndsInOneOrBelow) {
  EXPECT_EQ(ErrorBoxLine("sorvana-client", msg::kCannotBind),
            "sorvana-client: Could not bind socket. Address and port are already in use.");
  EXPECT_EQ(ErrorBoxText(Cp("Nema implementacije klijentskog servisa")),
            Cp("Nema implementacije klijentskog servisa."));
  EXPECT_EQ(ErrorBoxText("ends with a blank "), "ends with a blank ");
  EXPECT_EQ(ErrorBoxText("done!"), "done!");
  EXPECT_EQ(ErrorBoxText("a/"), "a/.");
  EXPECT_EQ(ErrorBoxText(Cp("greška č")), Cp("greška č."));  // a code above 127 counts as above "."
  EXPECT_EQ(ErrorBoxText(""), "");
}

}  // namespace
}  // namespace sv
