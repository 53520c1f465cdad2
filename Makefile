# Front door: `make run` flashes a simulated module, `make test` runs every test.
# Both install what is missing on Debian 12 first.

BUILD         ?= build
SAN_BUILD     ?= build-sanitize
TSAN_BUILD    ?= build-tsan
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 60
RELEASE_BUILD ?= build-release
CLANG_BUILD   ?= build-clang
NOGUI_BUILD   ?= build-nogui
BUILD_TYPE    ?= RelWithDebInfo
# Extra CMake arguments for every build, e.g. -DKORDEL_WERROR=ON (CI sets that).
CMAKE_ARGS    ?=
# The tests the extra builds (release, clang, no window) run: the command line's.
QUICK_TESTS   ?= Cli|Escape|Fit|Hint|Reporter|OptionForm|PortHint|Usage|CancelTest
# What the build without the window builds: every program it has and the test programs
# of QUICK_TESTS (the other builds compile every test).
NOGUI_TARGETS ?= kordel-flash kordel-sim kordel-image kordel-bench cli_tests cancel_tests ui_core_tests

# What the build and the tests need from Debian.
PACKAGES := g++ make cmake ninja-build pkg-config libgtest-dev \
            qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev \
            fonts-dejavu-core fonts-liberation xvfb xauth x11-utils xdotool imagemagick \
            clang libclang-rt-dev openbox fonts-wine

# What ships (the Debian package, the Windows zip) takes its dates from the last commit
# unless SOURCE_DATE_EPOCH is set, so that two builds of one commit are byte for byte
# the same; a new commit configures those builds again.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
SHIP_EPOCH := $(if $(SOURCE_DATE_EPOCH),-DKORDEL_SOURCE_DATE_EPOCH=$(SOURCE_DATE_EPOCH))
ifneq ($(SOURCE_DATE_EPOCH),)
package windows: export SOURCE_DATE_EPOCH := $(SOURCE_DATE_EPOCH)
endif

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all deps configure build test test-sanitize test-tsan fuzz run gui bench screenshots install clean \
        build-release build-clang build-nogui package
.PHONY: deps-windows windows test-windows bench-windows screenshots-windows
.PHONY: test-devices bench-devices
.PHONY: check-reproducible check-fresh-debian

all: build

# $(call install_missing,PACKAGES): installs those of the Debian packages that are missing.
define install_missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

# $(call configure,DIR,ARGS): CMake's configure step for DIR, run once and again only
# when the arguments change; a changed CMakeLists.txt makes Ninja re-run it by itself.
define configure
	@args='-S . -B $(1) -G Ninja $(LAUNCHER) $(2) $(CMAKE_ARGS)'; \
	if [ ! -f '$(1)/build.ninja' ] || [ "$$(cat '$(1)/.make-configure' 2>/dev/null)" != "$$args" ]; then \
	  echo "cmake $$args"; cmake $$args && echo "$$args" > '$(1)/.make-configure'; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

configure: deps
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=$(BUILD_TYPE))

build: configure
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	$(call configure,$(SAN_BUILD),-DCMAKE_BUILD_TYPE=Debug -DKORDEL_SANITIZE=ON)
	cmake --build $(SAN_BUILD)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j2

# The same tests built with ThreadSanitizer. Qt's own libraries are not instrumented;
# tests/tsan.supp names the reports that come from inside them.
test-tsan: deps
	$(call configure,$(TSAN_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORDEL_TSAN=ON)
	cmake --build $(TSAN_BUILD)
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j2

# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS from its seeds.
fuzz: deps
	$(call configure,$(FUZZ_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DKORDEL_FUZZ=ON -DKORDEL_BUILD_TESTS=OFF)
	cmake --build $(FUZZ_BUILD) --target fuzz-targets
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Flashes the embedded image into a simulated module and shows the result.
run: build
	$(BUILD)/cli/kordel-flash --sim

# Starts the window next to a simulated module, its port selected: press START.
gui: build
	tools/try-gui.sh $(BUILD)

# Remakes the README's screenshots under Xvfb.
screenshots: build
	tools/screenshots.sh $(BUILD) docs/screenshots

bench: build
	$(BUILD)/bench/kordel-bench $(BUILD)/sim/kordel-sim 5

# The Windows programs, cross-built with mingw-w64 into $(WIN_BUILD); the image check
# and the wine tests use kordel-image and kordel-sim from the native build.
WIN_BUILD    ?= build-windows
# wine64 holds the 64-bit loader; wineboot, wineserver and winepath come with wine.
# zip packs the zip without the files' own owners and times; osslsigncode signs the
# programs (and checks a signature), openssl makes the tests' throwaway certificate.
WIN_PACKAGES := mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 zip osslsigncode openssl \
                libgtest-dev xvfb xauth openbox
WIN_CMAKE_ARGS ?=
# Signs the zip's programs (Authenticode) when a certificate and its key are given:
#   make windows KORDEL_SIGN_CERT=cert.pem KORDEL_SIGN_KEY=key.pem
#   [KORDEL_SIGN_PASSWORD_FILE=file] [KORDEL_SIGN_TIMESTAMP_URL=url]
KORDEL_SIGN_CERT ?=
KORDEL_SIGN_KEY ?=
KORDEL_SIGN_PASSWORD_FILE ?=
KORDEL_SIGN_TIMESTAMP_URL ?=
WIN_SIGN_ARGS = -DKORDEL_SIGN_CERT=$(if $(KORDEL_SIGN_CERT),$(abspath $(KORDEL_SIGN_CERT))) \
                -DKORDEL_SIGN_KEY=$(if $(KORDEL_SIGN_KEY),$(abspath $(KORDEL_SIGN_KEY))) \
                -DKORDEL_SIGN_PASSWORD_FILE=$(if $(KORDEL_SIGN_PASSWORD_FILE),$(abspath $(KORDEL_SIGN_PASSWORD_FILE))) \
                -DKORDEL_SIGN_TIMESTAMP_URL=$(KORDEL_SIGN_TIMESTAMP_URL)

deps-windows:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGES) $(WIN_PACKAGES)"

windows: deps-windows configure
	cmake --build $(BUILD) --target kordel-image kordel-sim
	$(call configure,$(WIN_BUILD),-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKORDEL_HOST_TOOLS=$(abspath $(BUILD))/tools -DKORDEL_HOST_SIM=$(abspath $(BUILD))/sim/kordel-sim $(SHIP_EPOCH) $(WIN_SIGN_ARGS) $(WIN_CMAKE_ARGS))
	cmake --build $(WIN_BUILD)

# The Windows tests under wine, against kordel-sim on pseudo-terminals.
test-windows: windows
	ctest --test-dir $(WIN_BUILD) --output-on-failure

# Remakes the README's screenshots of kordel-update.exe under wine, on Xvfb with openbox.
screenshots-windows: windows
	KORDEL_WINEPREFIX=$(abspath $(WIN_BUILD))/wineprefix KORDEL_SIM=$(abspath $(BUILD))/sim/kordel-sim \
	  tools/screenshots-windows.sh $(WIN_BUILD) docs/screenshots

# Updates by kordel-flash.exe under wine against kordel-sim: one port, then 8 at once.
bench-windows: windows
	$(call install_missing,procps time)
	KORDEL_WINEPREFIX=$(abspath $(WIN_BUILD))/wineprefix KORDEL_SIM=$(abspath $(BUILD))/sim/kordel-sim \
	  tests/wine/bench.sh $(WIN_BUILD)/cli/kordel-flash.exe 5

# Installs into /usr/local, with sudo when not run as root.
install: build
	$(SUDO) cmake --install $(BUILD)

# The builds a packager or a production line runs, checked with the command line's
# tests only; `make test` runs everything. Release and clang build the whole tree (tests
# included), the build without the window its programs and those tests.
build-release: deps
	$(call configure,$(RELEASE_BUILD),-DCMAKE_BUILD_TYPE=Release)
	cmake --build $(RELEASE_BUILD)
	ctest --test-dir $(RELEASE_BUILD) --output-on-failure -j2 -R '$(QUICK_TESTS)'

build-clang: deps
	$(call install_missing,clang)
	$(call configure,$(CLANG_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++)
	cmake --build $(CLANG_BUILD)
	ctest --test-dir $(CLANG_BUILD) --output-on-failure -j2 -R '$(QUICK_TESTS)'

# Without the window: needs neither Qt nor xcb (CMake refuses to even look for Qt).
build-nogui: deps
	$(call configure,$(NOGUI_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORDEL_GUI=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON --no-warn-unused-cli)
	cmake --build $(NOGUI_BUILD) --target $(NOGUI_TARGETS)
	ctest --test-dir $(NOGUI_BUILD) --output-on-failure -j2 -R '$(QUICK_TESTS)'

# The Debian package, from the Release build, then checked: its files, lintian, and
# the programs unpacked into a scratch root.
package: deps
	$(call install_missing,dpkg-dev lintian man-db fakeroot devscripts)
	$(call configure,$(RELEASE_BUILD),-DCMAKE_BUILD_TYPE=Release $(SHIP_EPOCH))
	cmake --build $(RELEASE_BUILD) --target package
	tools/check-package.sh $(RELEASE_BUILD)/kordel_*.deb

# Builds the package and the zip in two clean clones at different paths: both must come
# out byte for byte the same.
check-reproducible:
	tools/check-reproducible.sh

# Runs FRESH_TARGETS (default: what CI runs) in a new minimal Debian 12 root, where only
# make and git are installed beforehand (needs root: debootstrap, chroot, mounts).
FRESH_TARGETS ?=
check-fresh-debian:
	$(call install_missing,debootstrap)
	$(SUDO) tools/fresh-debian-check.sh $(FRESH_TARGETS)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) \
	       $(RELEASE_BUILD) $(CLANG_BUILD) $(NOGUI_BUILD)

# The device lab: Debian's kernel under QEMU (software emulation), the scenarios run in
# the guest against the kernel's real USB-serial drivers (tests/devices/run-lab.sh). The
# kernel package is fetched with apt-get download and unpacked into $(DEVICES_CACHE),
# never installed. QEMU that cannot start here is reported as skipped (status 77).
DEVICES_CACHE    ?= $(BUILD)/devices
DEVICES_PACKAGES := qemu-system-x86 busybox-static xz-utils

test-devices: configure
	$(call install_missing,$(DEVICES_PACKAGES))
	cmake --build $(BUILD) --target lab-programs
	tests/devices/run-lab.sh $(BUILD) $(DEVICES_CACHE) test

# The update's wall time through cdc_acm and on a pseudo-terminal in the same guest.
bench-devices: configure
	$(call install_missing,$(DEVICES_PACKAGES))
	cmake --build $(BUILD) --target lab-programs
	tests/devices/run-lab.sh $(BUILD) $(DEVICES_CACHE) bench
