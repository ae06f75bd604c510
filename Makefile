# The targets a newcomer uses. Everything installs what it needs first.
BUILD ?= build
JOBS ?= 2
RUN_DIR ?= $(BUILD)/run

DEB_PACKAGES := cmake g++ make pkg-config qt6-base-dev libxkbcommon-dev libgl-dev \
                libgtest-dev libgmock-dev libbenchmark-dev libudev-dev xvfb xauth \
                fonts-dejavu-core mandoc desktop-file-utils dpkg-dev file
# What `make package-check` needs beyond that: lintian, and systemd for systemd-analyze.
PACKAGE_PACKAGES := lintian systemd
# What the fuzzing build needs beyond the ordinary build: clang and its libFuzzer runtime.
FUZZ_PACKAGES := clang libclang-rt-14-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
FUZZ_SECONDS ?= 60

# Sanitizer runs stop at the first finding, so none can scroll by in a passing run.
SAN_ENV := ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
           LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
           UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
           TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
           QT_QPA_PLATFORM=$${QT_QPA_PLATFORM:-offscreen}

.PHONY: deps fuzz-deps configure build test run demo bench clean format sanitize fuzz

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

fuzz-deps: deps
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(FUZZ_PACKAGES)"

configure: deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=$${QT_QPA_PLATFORM:-offscreen} ctest --output-on-failure -j$(JOBS)

# The window when a display is there, headless otherwise; files go to $(RUN_DIR).
run: build
	@mkdir -p $(RUN_DIR)
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "make run: display found, starting the window (files in $(RUN_DIR))"; \
	  $(BUILD)/touchcal --simulate --workdir $(RUN_DIR); \
	else \
	  echo "make run: no display, running headless (files in $(RUN_DIR)); Ctrl-C ends it"; \
	  $(BUILD)/touchcal --simulate --headless --workdir $(RUN_DIR); \
	fi

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the tests
# that run threads of their own under ThreadSanitizer; each in a build folder of its own.
sanitize: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOUCHCAL_BENCHMARKS=OFF \
	  -DTOUCHCAL_SANITIZE=address,undefined
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && $(SAN_ENV) ctest --output-on-failure -j$(JOBS)
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOUCHCAL_BENCHMARKS=OFF \
	  -DTOUCHCAL_SANITIZE=thread
	cmake --build $(BUILD)-tsan -j$(JOBS) --target threaded_tests
	cd $(BUILD)-tsan && $(SAN_ENV) ctest --output-on-failure -j$(JOBS) -L threads

# Every fuzz target for FUZZ_SECONDS over its seed corpus (fuzz/corpus); a finding fails
# and prints where its reproducer is.
fuzz: fuzz-deps
	cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DTOUCHCAL_FUZZ=ON -DTOUCHCAL_TESTS=OFF -DTOUCHCAL_BENCHMARKS=OFF
	cmake --build $(BUILD)-fuzz -j$(JOBS) --target fuzz_targets
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh $(BUILD)-fuzz

.PHONY: install package package-deps package-check

# `make install [DESTDIR=...] [PREFIX=...]`: the program and its files (docs/install.md).
install: configure
	@cmake -S . -B $(BUILD) >/dev/null  # a build folder from before the install rules learns them
	cmake --build $(BUILD) -j$(JOBS) --target install-files
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, in $(BUILD)/package/.
package: configure
	@cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target install-files
	cd $(BUILD) && cpack -B $(CURDIR)/$(BUILD)/package

package-deps: deps
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(PACKAGE_PACKAGES)"

# lintian, desktop entry, manual pages and the unit's checks on the package, with its figures.
package-check: package package-deps
	packaging/check.sh $$(ls -t $(BUILD)/package/touchcal_*.deb | head -n 1)

# One whole unit on the virtual devices, driven by the station client; then its files.
DEMO_PORT ?= 10000
demo: build
	tools/demo.sh $(BUILD) $(DEMO_PORT)

bench: build
	bench/startup.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
