// The floor's worker: 30 pictures a second on the canvas the page handed
// over, each changing a few small places, as the game's title or a quiet
// moment of play does: a ball and the paddle move, a brick changes colour.
// Paced by a timer aimed at whole thirtieths of a second from the start, so
// that the rate does not drift.
const WIDTH = 1280;
const HEIGHT = 720;
const PERIOD_MS = 1000 / 30;
const BALL = 12;
const PADDLE_W = 120;
const PADDLE_H = 16;
const PADDLE_Y = HEIGHT - 60;
const BRICK_W = 60;
const BRICK_H = 20;
const COLOURS = ['#e04848', '#e0a048', '#48e070', '#4890e0'];

let context = null;
let frames = 0;
let start = 0;
const ball = { x: 200, y: 300, dx: 5, dy: 4 };
let paddleX = 400;

function draw() {
  context.fillStyle = '#000';
  context.fillRect(ball.x, ball.y, BALL, BALL);
  context.fillRect(paddleX, PADDLE_Y, PADDLE_W, PADDLE_H);

  ball.x += ball.dx;
  ball.y += ball.dy;
  if (ball.x < 0 || ball.x > WIDTH - BALL)
    ball.dx = -ball.dx;
  if (ball.y < 80 || ball.y > PADDLE_Y - BALL)
    ball.dy = -ball.dy;
  paddleX = Math.max(0, Math.min(WIDTH - PADDLE_W, ball.x - PADDLE_W / 2));

  context.fillStyle = '#f0f0f0';
  context.fillRect(ball.x, ball.y, BALL, BALL);
  context.fillStyle = '#7fd3ff';
  context.fillRect(paddleX, PADDLE_Y, PADDLE_W, PADDLE_H);
  context.fillStyle = COLOURS[Math.floor(frames / 15) % COLOURS.length];
  context.fillRect(40 + (frames % 16) * (BRICK_W + 8), 30, BRICK_W, BRICK_H);

  frames += 1;
  const next = start + frames * PERIOD_MS;
  setTimeout(draw, Math.max(0, next - performance.now()));
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === 'canvas') {
    context = message.canvas.getContext('2d', { alpha: false });
    context.fillStyle = '#000';
    context.fillRect(0, 0, WIDTH, HEIGHT);
    start = performance.now();
    draw();
  } else if (message.type === 'frames') {
    message.port.postMessage({ frames });
  }
};
