# Front door: `make run` flashes a simulated module, `make test` runs every test.
# Both install what is missing on Debian 12 first.

BUILD      ?= build
SAN_BUILD  ?= build-sanitize
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=

# What the build and the tests need from Debian.
PACKAGES := g++ make cmake ninja-build pkg-config libgtest-dev \
            qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev \
            fonts-dejavu-core fonts-liberation xvfb xauth x11-utils xdotool imagemagick \
            clang libclang-rt-dev openbox fonts-wine

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test test-sanitize test-tsan fuzz run gui bench screenshots install clean
.PHONY: deps-windows windows test-windows bench-windows

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORDEL_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(SAN_BUILD)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j2

# The same tests built with ThreadSanitizer. Qt's own libraries are not instrumented;
# tests/tsan.supp names the reports that come from inside them.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORDEL_TSAN=ON $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD)
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j2

# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS from its seeds.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DKORDEL_FUZZ=ON -DKORDEL_BUILD_TESTS=OFF $(CMAKE_ARGS)
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
WIN_PACKAGES := mingw-w64 g++-mingw-w64-x86-64-posix wine64 libgtest-dev
WIN_CMAKE_ARGS ?=

deps-windows:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGES) $(WIN_PACKAGES)"

windows: deps-windows configure
	cmake --build $(BUILD) --target kordel-image kordel-sim
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKORDEL_HOST_TOOLS=$(abspath $(BUILD))/tools \
	  -DKORDEL_HOST_SIM=$(abspath $(BUILD))/sim/kordel-sim $(WIN_CMAKE_ARGS)
	cmake --build $(WIN_BUILD)

# The Windows tests under wine, against kordel-sim on pseudo-terminals.
test-windows: windows
	ctest --test-dir $(WIN_BUILD) --output-on-failure

# Updates by kordel-flash.exe under wine against kordel-sim: one port, then 8 at once.
bench-windows: windows
	KORDEL_WINEPREFIX=$(abspath $(WIN_BUILD))/wineprefix KORDEL_SIM=$(abspath $(BUILD))/sim/kordel-sim \
	  tests/wine/bench.sh $(WIN_BUILD)/cli/kordel-flash.exe 5

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
