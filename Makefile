# Set-up and everyday commands. Every target installs what is missing first (scripts/setup.sh).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: setup configure build run test bench clean

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/app/TvkLoader ]; then \
	  cd $(BUILD)/app && ./TvkLoader; \
	else \
	  echo "Built the app folder in $(BUILD)/app. The loader program is not part of the build yet, so there is nothing to start."; \
	fi

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The bench-only packages first: a benchmark whose baseline library is missing at configure time is not built.
bench:
	@bash scripts/setup.sh --bench
	@$(MAKE) --no-print-directory build
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

clean:
	@rm -rf $(BUILD) build-asan build-tsan
