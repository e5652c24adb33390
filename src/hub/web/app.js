"use strict";
// The hub's page: the crosspoint grid, presets and names, kept live by the
// hub's event stream. Everything it needs comes from the hub itself.
(() => {
  const API = "/api/v1";
  const PORTS = 16;
  const TOKEN_KEY = "matrix-hub-token";
  let token = sessionStorage.getItem(TOKEN_KEY) || "";
  const state = { link: null, stale: true, outputs: [], inputs: [], names: { inputs: {}, outputs: {} }, presets: [] };
  // Cells waiting for the switcher, by output: {input, failed}.
  const pending = new Map();
  let shownAt = Date.now();
  const $ = (id) => document.getElementById(id);

  const inputName = (n) => state.names.inputs[n] || `Input ${n}`;
  const outputName = (n) => state.names.outputs[n] || `Output ${n}`;

  function headers(json) {
    const h = {};
    if (json) h["Content-Type"] = "application/json";
    if (token) h["Authorization"] = `Bearer ${token}`;
    return h;
  }

  function askToken() {
    $("token-form").hidden = false;
    $("token").focus();
  }

  async function call(method, path, body) {
    const response = await fetch(API + path, {
      method, headers: headers(body !== undefined), body: body === undefined ? undefined : JSON.stringify(body),
      credentials: "omit", cache: "no-store",
    });
    if (response.status === 401) askToken();
    let data = null;
    try { data = await response.json(); } catch (e) { data = null; }
    if (!response.ok) {
      const message = data && data.error ? data.error.message : `${response.status} ${response.statusText}`;
      throw new Error(message);
    }
    return data;
  }

  function say(text) { $("message").textContent = text; }

  // --- the grid ---------------------------------------------------------

  function buildGrid() {
    const table = $("grid");
    table.textContent = "";
    const head = table.createTHead().insertRow();
    const corner = document.createElement("th");
    corner.textContent = "Out \\ In";
    head.appendChild(corner);
    for (let i = 1; i <= PORTS; i++) {
      const th = document.createElement("th");
      th.scope = "col";
      th.id = `in-${i}`;
      th.appendChild(document.createElement("span"));
      head.appendChild(th);
    }
    const tools = document.createElement("th");
    tools.textContent = "Audio, lock";
    head.appendChild(tools);
    const body = table.createTBody();
    for (let o = 1; o <= PORTS; o++) {
      const row = body.insertRow();
      row.id = `row-${o}`;
      const th = document.createElement("th");
      th.scope = "row";
      th.id = `out-${o}`;
      row.appendChild(th);
      for (let i = 1; i <= PORTS; i++) {
        const button = document.createElement("button");
        button.type = "button";
        button.className = "cell";
        button.dataset.output = o;
        button.dataset.input = i;
        button.addEventListener("click", () => route(o, i));
        button.addEventListener("keydown", moveFocus);
        row.insertCell().appendChild(button);
      }
      const cell = row.insertCell();
      cell.className = "tools";
      const audio = document.createElement("button");
      audio.type = "button";
      audio.className = "audio";
      audio.addEventListener("click", () => setAudio(o));
      const lock = document.createElement("button");
      lock.type = "button";
      lock.className = "lock";
      lock.addEventListener("click", () => setLock(o));
      cell.append(audio, lock);
    }
  }

  function moveFocus(event) {
    const o = Number(event.target.dataset.output);
    const i = Number(event.target.dataset.input);
    const step = { ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1] }[event.key];
    if (!step) return;
    event.preventDefault();
    const no = Math.min(PORTS, Math.max(1, o + step[0]));
    const ni = Math.min(PORTS, Math.max(1, i + step[1]));
    const next = document.querySelector(`button.cell[data-output="${no}"][data-input="${ni}"]`);
    if (next) next.focus();
  }

  function render() {
    for (let i = 1; i <= PORTS; i++) {
      const th = $(`in-${i}`);
      th.firstChild.textContent = inputName(i);
      th.title = inputName(i);
    }
    for (const output of state.outputs) {
      const o = output.output;
      const row = $(`row-${o}`);
      if (!row) continue;
      row.classList.toggle("locked", output.locked);
      const th = $(`out-${o}`);
      th.textContent = outputName(o);
      th.title = outputName(o);
      const wait = pending.get(o);
      for (const button of row.querySelectorAll("button.cell")) {
        const i = Number(button.dataset.input);
        const routed = output.input === i;
        button.setAttribute("aria-pressed", String(routed));
        button.classList.toggle("pending", !!wait && wait.input === i && !wait.failed);
        button.classList.toggle("failed", !!wait && wait.input === i && !!wait.failed);
        button.setAttribute("aria-disabled", String(output.locked));
        let label = `${outputName(o)}: ${inputName(i)}`;
        if (wait && wait.input === i) label += wait.failed ? " (failed)" : " (pending)";
        if (output.locked) label += " (locked)";
        button.setAttribute("aria-label", label);
        button.title = wait && wait.input === i && wait.failed ? wait.failed : label;
      }
      const audio = row.querySelector("button.audio");
      audio.setAttribute("aria-pressed", String(output.audio === "on"));
      audio.textContent = output.audio === "mute" ? "Muted" : output.audio === "on" ? "Audio" : "Audio ?";
      audio.setAttribute("aria-label", `Audio of ${outputName(o)}`);
      const lock = row.querySelector("button.lock");
      lock.setAttribute("aria-pressed", String(output.locked));
      lock.textContent = output.locked ? "Locked" : "Lock";
      lock.setAttribute("aria-label", `Lock ${outputName(o)}`);
    }
    renderBanner();
  }

  function renderBanner() {
    const banner = $("link");
    const link = state.link;
    banner.classList.remove("down", "stale");
    if (!link) {
      banner.textContent = "Connecting to the hub…";
      banner.classList.add("stale");
      return;
    }
    if (link.state === "up" && !state.stale) {
      banner.textContent = `Connected to ${link.address}`;
      return;
    }
    const since = link.since ? Date.parse(link.since) : shownAt;
    const age = Math.max(0, Math.round((Date.now() - since) / 1000));
    const what = link.state === "up" ? "Reading the switcher's state" : link.state === "connecting" ? "Reconnecting" : "Reconnecting";
    const reason = link.state !== "up" && link.reason ? `: ${link.reason}` : "";
    banner.textContent = `${what}${reason}. Shown state is ${age} s old.`;
    banner.classList.add(link.state === "up" ? "stale" : "down");
  }

  function clearFailureLater(o, input) {
    setTimeout(() => {
      const wait = pending.get(o);
      if (wait && wait.input === input && wait.failed) {
        pending.delete(o);
        render();
      }
    }, 4000);
  }

  async function route(o, i) {
    const output = state.outputs.find((x) => x.output === o);
    if (output && output.locked) {
      say(`${outputName(o)} is locked: unlock it to change its route.`);
      return;
    }
    pending.set(o, { input: i, failed: null });
    render();
    try {
      applyState(await call("POST", `/outputs/${o}/route`, { input: i }));
      pending.delete(o);
      say("");
    } catch (error) {
      pending.set(o, { input: i, failed: error.message });
      say(`${outputName(o)}: ${inputName(i)} failed: ${error.message}`);
      clearFailureLater(o, i);
    }
    render();
  }

  async function setAudio(o) {
    const output = state.outputs.find((x) => x.output === o);
    try {
      applyState(await call("POST", `/outputs/${o}/audio`, { audio: output && output.audio === "on" ? "mute" : "on" }));
      say("");
    } catch (error) { say(`Audio of ${outputName(o)}: ${error.message}`); }
    render();
  }

  async function setLock(o) {
    const output = state.outputs.find((x) => x.output === o);
    try {
      applyState(await call("PUT", `/outputs/${o}/lock`, { locked: !(output && output.locked) }));
      say("");
    } catch (error) { say(`Lock of ${outputName(o)}: ${error.message}`); }
    render();
  }

  // --- presets ------------------------------------------------------------

  function renderPresets() {
    const list = $("presets");
    list.textContent = "";
    for (const preset of state.presets) {
      const item = document.createElement("li");
      const name = document.createElement("span");
      name.textContent = preset.name;
      const recall = document.createElement("button");
      recall.type = "button";
      recall.textContent = "Recall";
      recall.setAttribute("aria-label", `Recall preset ${preset.name}`);
      recall.addEventListener("click", () => recallPreset(preset.name));
      const remove = document.createElement("button");
      remove.type = "button";
      remove.textContent = "Delete";
      remove.setAttribute("aria-label", `Delete preset ${preset.name}`);
      remove.addEventListener("click", () => deletePreset(preset.name));
      item.append(name, recall, remove);
      list.appendChild(item);
    }
  }

  async function recallPreset(name) {
    const box = $("recall");
    box.textContent = `Recalling ${name}…`;
    try {
      const report = await call("POST", `/presets/${encodeURIComponent(name)}/recall`, {});
      box.textContent = `Preset ${report.preset}:`;
      const list = document.createElement("ul");
      list.className = "recall-results";
      for (const entry of report.outputs) {
        const item = document.createElement("li");
        item.className = `result-${entry.result}`;
        item.dataset.output = entry.output;
        item.dataset.result = entry.result;
        item.textContent = `${outputName(entry.output)} → ${inputName(entry.input)}: ${entry.result}` +
          (entry.reason ? ` (${entry.reason})` : "");
        list.appendChild(item);
      }
      box.appendChild(list);
    } catch (error) { box.textContent = `Preset ${name}: ${error.message}`; }
  }

  async function deletePreset(name) {
    try { state.presets = await call("DELETE", `/presets/${encodeURIComponent(name)}`); renderPresets(); }
    catch (error) { say(`Preset ${name}: ${error.message}`); }
  }

  // --- names --------------------------------------------------------------

  function buildNames() {
    for (const side of ["inputs", "outputs"]) {
      const box = $(side === "inputs" ? "input-names" : "output-names");
      for (let n = 1; n <= PORTS; n++) {
        const label = document.createElement("label");
        const number = document.createElement("span");
        number.textContent = n;
        const field = document.createElement("input");
        field.maxLength = 40;
        field.dataset.side = side;
        field.dataset.port = n;
        field.setAttribute("aria-label", `Name of ${side === "inputs" ? "input" : "output"} ${n}`);
        field.addEventListener("change", () => rename(side, n, field));
        field.addEventListener("keydown", (event) => { if (event.key === "Enter") field.blur(); });
        label.append(number, field);
        box.appendChild(label);
      }
    }
  }

  function renderNames() {
    for (const field of document.querySelectorAll(".names input")) {
      if (document.activeElement === field) continue;
      field.value = state.names[field.dataset.side][field.dataset.port] || "";
    }
  }

  async function rename(side, n, field) {
    const value = field.value.trim();
    try {
      state.names = await call("PUT", "/names", { [side]: { [n]: value === "" ? null : value } });
      say("");
    } catch (error) {
      say(`Name of ${side === "inputs" ? "input" : "output"} ${n}: ${error.message}`);
    }
    renderNames();
    render();
  }

  // --- live state -----------------------------------------------------------

  function applyState(full) {
    state.link = full.link;
    state.stale = full.stale;
    state.outputs = full.outputs;
    state.inputs = full.inputs;
    shownAt = Date.now();
  }

  function onEvent(type, data) {
    if (type === "state") applyState(data);
    else if (type === "output") {
      const index = state.outputs.findIndex((x) => x.output === data.output);
      if (index >= 0) state.outputs[index] = data; else state.outputs.push(data);
      const wait = pending.get(data.output);
      if (wait && !wait.failed && data.input === wait.input) pending.delete(data.output);
    } else if (type === "input") {
      const index = state.inputs.findIndex((x) => x.input === data.input);
      if (index >= 0) state.inputs[index] = data;
    } else if (type === "link") { state.link = data.link; state.stale = data.stale; }
    else if (type === "names") { state.names = data; renderNames(); }
    else if (type === "presets") { state.presets = data; renderPresets(); }
    render();
  }

  // The event stream through fetch, so the token travels in its header
  // rather than in the address; reconnects after a pause when it ends.
  async function stream() {
    for (;;) {
      try {
        const response = await fetch(`${API}/events`, { headers: headers(false), credentials: "omit", cache: "no-store" });
        if (response.status === 401) {
          askToken();
          await new Promise((resolve) => { resumeStream = resolve; });
          continue;
        }
        if (!response.ok || !response.body) throw new Error(`${response.status}`);
        const reader = response.body.getReader();
        const decoder = new TextDecoder();
        let buffer = "";
        for (;;) {
          const { value, done } = await reader.read();
          if (done) break;
          buffer += decoder.decode(value, { stream: true });
          let end;
          while ((end = buffer.indexOf("\n\n")) >= 0) {
            const block = buffer.slice(0, end);
            buffer = buffer.slice(end + 2);
            let type = "message";
            const data = [];
            for (const line of block.split("\n")) {
              if (line.startsWith("event: ")) type = line.slice(7);
              else if (line.startsWith("data: ")) data.push(line.slice(6));
            }
            if (data.length) onEvent(type, JSON.parse(data.join("\n")));
          }
        }
      } catch (error) {
        // The hub is gone or restarting: shown below as stale.
      }
      if (state.link) { state.stale = true; state.link = Object.assign({}, state.link, { state: "connecting", reason: "the hub does not answer" }); }
      renderBanner();
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
  let resumeStream = null;

  document.addEventListener("DOMContentLoaded", () => {
    buildGrid();
    buildNames();
    render();
    $("token-form").addEventListener("submit", (event) => {
      event.preventDefault();
      token = $("token").value.trim();
      sessionStorage.setItem(TOKEN_KEY, token);
      $("token-form").hidden = true;
      if (resumeStream) { const resume = resumeStream; resumeStream = null; resume(); }
    });
    $("preset-form").addEventListener("submit", async (event) => {
      event.preventDefault();
      const name = $("preset-name").value.trim();
      try {
        state.presets = await call("PUT", `/presets/${encodeURIComponent(name)}`, { from: "current" });
        renderPresets();
        $("preset-name").value = "";
        say("");
      } catch (error) { say(`Preset ${name}: ${error.message}`); }
    });
    setInterval(renderBanner, 1000);
    stream();
  });
})();
