# The targets a newcomer uses. Everything installs what it needs first.
BUILD ?= build
JOBS ?= 2
RUN_DIR ?= $(BUILD)/run

DEB_PACKAGES := cmake g++ make pkg-config qt6-base-dev libxkbcommon-dev libgl-dev \
                libgtest-dev libgmock-dev libbenchmark-dev libudev-dev xvfb xauth \
                fonts-dejavu-core
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build test run bench clean format

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

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

bench: build
	bench/startup.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
