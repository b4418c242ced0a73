# Set-up on a fresh Debian 12 machine (as root): `make run` or `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test bench asan tsan clean format

deps:
	@tools/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

# With a display: the program. Without one: the example refinement, run headless in
# $(BUILD)/example-run (progress on the terminal), and how to start the windows under Xvfb.
EXAMPLE_RUN = $(BUILD)/example-run

run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ] || [ -n "$$QT_QPA_PLATFORM" ]; then \
	  exec $(BUILD)/kelvarin; \
	fi; \
	echo "No display found: running the example refinement without windows (examples/refinement.toml)."; \
	mkdir -p $(EXAMPLE_RUN) && cp examples/refinement.toml examples/measured.dat $(EXAMPLE_RUN)/ && \
	$(BUILD)/kelvarin-cli run $(EXAMPLE_RUN)/refinement.toml || exit 1; \
	echo ""; \
	echo "Results: $(abspath $(EXAMPLE_RUN))/refinement.fit, .out and .ion (curves, parameters, strain profile)"; \
	echo "Plot:    $(abspath $(EXAMPLE_RUN))/refinement.svg"; \
	echo "To use the windows without a display: apt-get install -y xvfb openbox, then"; \
	echo "  xvfb-run -a -s '-screen 0 1600x1000x24' sh -c 'openbox & $(abspath $(BUILD))/kelvarin'"; \
	echo "(or QT_QPA_PLATFORM=offscreen $(BUILD)/kelvarin for a run that shows nothing)."

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@for b in $$(ls $(BUILD)/bench/bench_* 2>/dev/null); do echo "== $$b"; $$b; done

asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVARIN_SANITIZE=ON -DKELVARIN_BENCH=OFF \
	  -DKELVARIN_PYTHON=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The fit core, the window logic and the command-line tool (where candidates are evaluated on
# several threads) under ThreadSanitizer; the Qt program is left out, as Qt itself is not
# instrumented, and so is the Python module (the interpreter is not either).
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARIN_GUI=OFF -DKELVARIN_BENCH=OFF \
	  -DKELVARIN_PYTHON=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target kelvarin_fit_tests kelvarin_windows_tests kelvarin_cli_tests
	cd $(TSAN_BUILD) && for t in tests/kelvarin_fit_tests tests/kelvarin_windows_tests tests/kelvarin_cli_tests; do \
	  TSAN_OPTIONS=halt_on_error=1 ./$$t --gtest_brief=1 || exit 1; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
