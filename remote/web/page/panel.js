// The live front panel: built from the first state the server pushes over
// /ws, kept up to date by the later ones. Every action goes back as a command
// that runs the window's own handler (PANel:...), so the page does what the
// window would; what the window would show in a box comes back as a message.
"use strict";

const TWIPS_PER_PX = 15;
const BOX_WORDS = { TextFreq: "FREQ", TextFreqStop: "STOP", TextFreqStep: "STEP", TextSweepTime: "TIME" };
const BUTTON_WORDS = { CmdSend: "SEND", CmdStart: "STAR", CmdStop: "STOP", CmdSngl: "SING" };
// The window's Tab order: the boxes, the command row, the knobs from left
// to right, the level, the units; the model choice last.
const TAB_ORDER = ["TextFreq", "TextFreqStop", "TextFreqStep", "TextSweepTime",
  "CmdSend", "CmdStart", "CmdStop", "CmdSngl"];
for (let i = 0; i <= 10; i++) TAB_ORDER.push(`Knob1(${i})`);
for (let i = 0; i < 4; i++) TAB_ORDER.push(`Option1(${i})`);
const BOX_LABELS = { Label11: "TextFreq", Label12: "TextFreqStop", Label6: "TextFreqStep", Label13: "TextSweepTime" };
const BOXED = new Set(["Label2", "Label3", "Label4", "Label5"]);
const MAX_ALERTS = 20;

const panel = document.getElementById("panel");
const statusLine = document.getElementById("status");
const alertList = document.getElementById("alert-list");
const tokenForm = document.getElementById("token-form");
const tokenField = document.getElementById("token");

let ws = null;
let control = false;
let token = null;         // what the operator typed, sent again after a reconnect
let nextId = 1;
let built = false;
let live = false;
const parts = {};         // the state as last pushed
const elements = {};      // control name -> its element
// A control the operator has edited keeps what the page shows until a state
// push says the server has run that edit: a push taken earlier is older than
// the edit and would overwrite the operator's typing with a stale text.
const lastSent = {};      // control name -> id of our latest command for it
let acked = 0;            // our latest command the pushed state includes

function px(twips) { return `${Math.round(twips / TWIPS_PER_PX)}px`; }

function indexOf(name) {
  const m = /\((\d+)\)$/.exec(name);
  return m ? Number(m[1]) : -1;
}

function scpiString(text) { return `"${text.replace(/"/g, '""')}"`; }

function send(scpi, forControl) {
  if (!ws || ws.readyState !== WebSocket.OPEN || !control) return;
  const id = nextId++;
  if (forControl) lastSent[forControl] = id;
  ws.send(JSON.stringify({ id, scpi }));
}

function showAlert(text) {
  const item = document.createElement("li");
  item.textContent = text;
  const dismiss = document.createElement("button");
  dismiss.type = "button";
  dismiss.textContent = "Dismiss";
  dismiss.addEventListener("click", () => item.remove());
  item.append(dismiss);
  alertList.append(item);
  while (alertList.children.length > MAX_ALERTS) alertList.firstElementChild.remove();
}

function place(el, p) {
  // A light is a circle of its box's smaller side, centred, as the window draws it.
  const side = p.k === "circle" ? Math.min(p.w, p.h) : 0;
  el.style.left = px(side ? p.x + (p.w - side) / 2 : p.x);
  el.style.top = px(side ? p.y + (p.h - side) / 2 : p.y);
  el.style.width = px(side || p.w);
  el.style.height = px(side || p.h);
}

function make(name, p) {
  let el;
  switch (p.k) {
    case "text":
      el = document.createElement("input");
      el.type = "text";
      el.className = "text";
      el.autocomplete = "off";
      el.spellcheck = false;
      if (p.max > 0) el.maxLength = p.max;
      el.addEventListener("focus", () => {
        // Moving into the frequency box empties it, as in the window.
        if (name === "TextFreq" && control) {
          el.value = "";
          send("PAN:FOC FREQ", name);
        }
      });
      el.addEventListener("input", () => send(`PAN:TEXT ${BOX_WORDS[name]},${scpiString(el.value)}`, name));
      break;
    case "button":
      el = document.createElement("button");
      el.type = "button";
      el.className = "button";
      el.addEventListener("click", () => send(`PAN:PRES ${BUTTON_WORDS[name]}`));
      break;
    case "knob":
      el = document.createElement("input");
      el.type = "range";
      el.className = "knob";
      el.step = "1";
      el.addEventListener("input", () => send(`PAN:KNOB ${indexOf(name)},${el.value}`, name));
      break;
    case "option": {
      el = document.createElement("label");
      el.className = "option";
      const radio = document.createElement("input");
      radio.type = "radio";
      radio.name = "unit";
      radio.addEventListener("change", () => { if (radio.checked) send(`PAN:UNIT ${indexOf(name)}`, name); });
      const caption = document.createElement("span");
      caption.setAttribute("aria-hidden", "true");
      el.append(radio, caption);
      break;
    }
    case "circle":
      el = document.createElement("div");
      el.className = "circle";
      el.setAttribute("role", "img");
      break;
    case "rect":
      el = document.createElement("div");
      el.className = name === "Shape1" ? "rect outer" : "rect";
      el.setAttribute("aria-hidden", "true");
      break;
    default:
      if (BOX_LABELS[name]) {
        el = document.createElement("label");
        el.htmlFor = BOX_LABELS[name];
      } else {
        el = document.createElement("div");
      }
      el.className = "label";
      if (BOXED.has(name) || (name.startsWith("D(") && name !== "D(10)")) el.classList.add("boxed");
      if (name.startsWith("D(")) el.classList.add("digit");
      if (name === "Label5") el.classList.add("model");
      if (name === "Label8") el.classList.add("title");
      if (name === "Label9") el.setAttribute("role", "img");
  }
  el.id = name;
  el.dataset.control = name;
  return el;
}

function apply(name, p) {
  const el = elements[name];
  if (!el) return;
  place(el, p);
  el.hidden = !p.v;
  const mine = (lastSent[name] || 0) > acked;  // our own edit is on its way: keep what is typed
  const input = p.k === "option" ? el.querySelector("input") : el;
  if ("disabled" in input) input.disabled = !p.e || !control;
  switch (p.k) {
    case "text":
      el.setAttribute("aria-label", p.n);
      el.title = p.d;
      if (!mine && el.value !== p.t) el.value = p.t;
      el.style.backgroundColor = p.bg || "";
      break;
    case "button":
      el.textContent = p.n;
      el.title = p.d;
      break;
    case "knob":
      el.setAttribute("aria-label", p.n);
      el.title = p.d;
      el.min = String(p.min);
      el.max = String(p.max);
      if (!mine && Number(el.value) !== p.val) el.value = String(p.val);
      break;
    case "option":
      input.setAttribute("aria-label", p.n);
      input.title = p.d;
      input.checked = p.s;
      el.lastElementChild.textContent = p.c;
      break;
    case "circle":
      el.setAttribute("aria-label", p.n);
      el.style.backgroundColor = p.lit ? p.fill : "transparent";
      break;
    case "rect":
      el.style.backgroundColor = name === "Shape1" ? p.fill || "#c8c8c8" : "transparent";
      break;
    default:
      if (name === "Label9") {
        el.setAttribute("aria-label", p.n);
      } else {
        el.title = p.d;
      }
      el.textContent = p.c;
  }
}

function build() {
  const names = Object.keys(parts).filter((n) => !n.startsWith("#") && n !== "ComdOff");
  const ordered = TAB_ORDER.filter((n) => parts[n]).concat(
    names.filter((n) => !TAB_ORDER.includes(n)));
  for (const name of ordered) {
    const el = make(name, parts[name]);
    elements[name] = el;
  }
  // The model choice, where the window has its menu bar.
  const models = document.createElement("label");
  models.className = "models";
  models.textContent = "PTS Model ";
  const select = document.createElement("select");
  select.id = "model";
  // The model changes once the operator confirms a choice (Enter, or leaving
  // the list), not at every arrow key that passes over one; a pick with the
  // pointer is a confirmed one.
  let keyed = false;
  const confirm = () => {
    const shown = (parts["#models"] || []).find((m) => m.on);
    if (select.value && select.value !== (shown ? shown.m : "")) send(`SYST:MOD ${select.value}`);
    select.dataset.pending = "";
  };
  select.addEventListener("keydown", (event) => {
    if (event.key === "Enter") confirm();
    else keyed = event.key !== "Tab";
  });
  select.addEventListener("change", () => {
    if (keyed) select.dataset.pending = "1";
    else confirm();
    keyed = false;
  });
  select.addEventListener("blur", () => { if (select.dataset.pending) confirm(); });
  models.append(select);
  models.style.left = px(840);
  models.style.top = "6px";
  // The sweep's progress, under the outer frame as in the window, with the
  // percentage the window's bar shows.
  const progress = document.createElement("div");
  progress.id = "progress";
  const row = document.createElement("div");
  row.className = "bar";
  const bar = document.createElement("progress");
  bar.setAttribute("aria-label", "Sweep progress");
  const percent = document.createElement("span");
  percent.id = "progress-percent";
  percent.setAttribute("aria-hidden", "true");  // the bar itself says it
  row.append(bar, percent);
  const line = document.createElement("span");
  line.id = "progress-line";
  progress.append(row, line);
  const outer = parts.Shape1 || { x: 840, y: 600, w: 8295, h: 4815 };
  progress.style.marginLeft = px(outer.x);
  progress.style.width = px(outer.w);
  // The panel ends with its outer frame: nothing blank below it.
  panel.style.height = px(outer.y + outer.h + 120);
  // Tab order is document order: the focusable controls first, in the window's order.
  for (const name of ordered) {
    if (TAB_ORDER.includes(name)) panel.append(elements[name]);
  }
  panel.append(models);
  for (const name of ordered) {
    if (!TAB_ORDER.includes(name)) panel.prepend(elements[name]);
  }
  // Frames lie behind the controls they frame, the outer panel behind all.
  for (const name of ordered) {
    if (parts[name].k === "rect") panel.prepend(elements[name]);
  }
  if (elements.Shape1) panel.prepend(elements.Shape1);
  panel.after(progress);
  panel.hidden = false;
  built = true;
}

function applyModels(list) {
  const select = document.getElementById("model");
  const chosen = list.find((m) => m.on);
  const wanted = [{ c: "(none chosen)", m: "" }].concat(list);
  if (select.options.length !== wanted.length) {
    select.replaceChildren(...wanted.map((m) => new Option(m.c, m.m)));
  }
  wanted.forEach((m, i) => { select.options[i].disabled = m.e === false || (i === 0 && !!chosen); });
  // A choice not yet confirmed stays on show.
  if (!select.dataset.pending) select.value = chosen ? chosen.m : "";
  select.disabled = !control;
}

function applyProgress(p) {
  const area = document.getElementById("progress");
  const bar = area.querySelector("progress");
  area.hidden = !p.on;
  if (!p.on) return;
  bar.max = Math.max(1, p.steps);
  bar.value = p.step;
  // As the window's bar counts: whole percent, rounded down; a single step is 100 %.
  const percent = p.steps > 0 ? Math.floor((p.step * 100) / p.steps) : 100;
  document.getElementById("progress-percent").textContent = `${percent}%`;
  document.getElementById("progress-line").textContent = p.line;
}

function applyIdentity(p) {
  document.getElementById("id-model").textContent = p.model;
  document.getElementById("id-boards").textContent = String(p.boards);
}

function applyAll(keys) {
  for (const key of keys) {
    const p = parts[key];
    if (key === "#models") applyModels(p);
    else if (key === "#progress") applyProgress(p);
    else if (key === "#identity") applyIdentity(p);
    else apply(key, p);
  }
}

function showStatus() {
  if (!ws || ws.readyState !== WebSocket.OPEN) return;
  statusLine.textContent = control ? "Live: this page controls the panel."
    : "Live, view only: this page shows the panel but cannot change it.";
}

function onState(msg) {
  Object.assign(parts, msg.parts);
  if (!built) build();
  const keys = new Set(msg.full ? Object.keys(parts) : Object.keys(msg.parts));
  if (typeof msg.ack === "number" && msg.ack > acked) acked = msg.ack;
  // Controls whose edits the server has now run show its state again.
  for (const name of Object.keys(lastSent)) {
    if (lastSent[name] > acked) continue;
    delete lastSent[name];
    if (parts[name]) keys.add(name);
  }
  applyAll([...keys]);
  if (!live) {
    live = true;
    performance.mark("pts-live");
    document.body.dataset.live = "1";
  }
  document.body.dataset.frames = String(Number(document.body.dataset.frames || 0) + 1);
}

function onReply(msg) {
  for (const text of msg.alerts || []) showAlert(text);
}

function connect() {
  ws = new WebSocket(`${location.protocol === "https:" ? "wss" : "ws"}://${location.host}/ws`);
  ws.addEventListener("open", () => { if (token !== null) ws.send(JSON.stringify({ token })); });
  ws.addEventListener("message", (event) => {
    let msg;
    try { msg = JSON.parse(event.data); } catch { return; }
    if (msg.t === "hello") {
      control = msg.control;
      tokenForm.classList.toggle("hidden", !msg.token);
      showStatus();
    } else if (msg.t === "auth") {
      control = msg.control;
      if (!msg.ok) showAlert("The access token was not accepted.");
      if (built) applyAll(Object.keys(parts));
      showStatus();
    } else if (msg.t === "state") {
      onState(msg);
    } else if (msg.t === "reply") {
      onReply(msg);
    }
  });
  ws.addEventListener("close", () => {
    statusLine.textContent = "Connection to the panel lost; trying again.";
    control = false;
    // A new connection's acknowledgements start again.
    for (const key of Object.keys(lastSent)) delete lastSent[key];
    acked = 0;
    if (built) applyAll(Object.keys(parts));
    setTimeout(connect, 1000);
  });
}

tokenForm.addEventListener("submit", (event) => {
  event.preventDefault();
  token = tokenField.value;
  tokenField.value = "";
  if (ws && ws.readyState === WebSocket.OPEN) ws.send(JSON.stringify({ token }));
});

connect();
